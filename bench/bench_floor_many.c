/* bench-floor-many: the floor of bench-native (list, open, fstat, read 4 KiB
 * and two 20-byte pieces, close), done by THREADS threads at once, each
 * taking the next folder from a shared stack: the least a walk with that
 * many requests in flight could cost.
 *
 *   bench-floor-many THREADS RUNS ROOT...
 *
 * Makes one warm-up pass, then RUNS passes, printing "run SECONDS FILES 0"
 * for each; RUNS 0 makes a single pass without warm-up (for a cold cache,
 * dropped by the caller). Links are not followed. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

struct Walk {
  pthread_mutex_t lock;
  pthread_cond_t more;
  char** folders; /* the stack of folders not yet listed */
  size_t count, capacity;
  int busy;       /* threads listing a folder, which may push more */
  long files;
};

static void Push(struct Walk* walk, char* folder) {
  pthread_mutex_lock(&walk->lock);
  if (walk->count == walk->capacity) {
    walk->capacity = walk->capacity ? walk->capacity * 2 : 1024;
    walk->folders = realloc(walk->folders, walk->capacity * sizeof *walk->folders);
    if (walk->folders == NULL) abort();
  }
  walk->folders[walk->count++] = folder;
  pthread_cond_signal(&walk->more);
  pthread_mutex_unlock(&walk->lock);
}

/* The next folder, or NULL once none is left and no thread can add one. */
static char* Pop(struct Walk* walk) {
  pthread_mutex_lock(&walk->lock);
  while (walk->count == 0 && walk->busy > 0) pthread_cond_wait(&walk->more, &walk->lock);
  char* folder = NULL;
  if (walk->count > 0) {
    folder = walk->folders[--walk->count];
    ++walk->busy;
  } else {
    pthread_cond_broadcast(&walk->more);
  }
  pthread_mutex_unlock(&walk->lock);
  return folder;
}

static void Visit(int folder, const char* name) {
  const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    char head[4096], piece[20];
    if (pread(fd, head, sizeof head, 0) >= 0) {
      (void)!pread(fd, piece, sizeof piece, st.st_size / 2);
      (void)!pread(fd, piece, sizeof piece, st.st_size > 20 ? st.st_size - 20 : 0);
    }
  }
  close(fd);
}

static void* Worker(void* argument) {
  struct Walk* walk = argument;
  long files = 0;
  char* path;
  while ((path = Pop(walk)) != NULL) {
    DIR* dir = opendir(path);
    const struct dirent* entry;
    while (dir != NULL && (entry = readdir(dir)) != NULL) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      unsigned char type = entry->d_type;
      if (type == DT_UNKNOWN) {
        struct stat st;
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
      }
      if (type == DT_DIR) {
        char* child = malloc(strlen(path) + strlen(entry->d_name) + 2);
        if (child == NULL) abort();
        sprintf(child, "%s/%s", path, entry->d_name);
        Push(walk, child);
      } else if (type == DT_REG) {
        Visit(dirfd(dir), entry->d_name);
        ++files;
      }
    }
    if (dir != NULL) closedir(dir);
    free(path);
    pthread_mutex_lock(&walk->lock);
    --walk->busy;
    walk->files += files;
    files = 0;
    pthread_cond_broadcast(&walk->more);
    pthread_mutex_unlock(&walk->lock);
  }
  return NULL;
}

static long Pass(int threads, int roots, char** root) {
  struct Walk walk = {.lock = PTHREAD_MUTEX_INITIALIZER, .more = PTHREAD_COND_INITIALIZER};
  for (int i = 0; i < roots; ++i) Push(&walk, strdup(root[i]));
  pthread_t* ids = calloc((size_t)threads, sizeof *ids);
  if (ids == NULL) abort();
  for (int i = 0; i < threads; ++i) {
    if (pthread_create(&ids[i], NULL, Worker, &walk) != 0) abort();
  }
  for (int i = 0; i < threads; ++i) pthread_join(ids[i], NULL);
  free(ids);
  free(walk.folders);
  return walk.files;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: bench-floor-many THREADS RUNS ROOT...\n");
    return 2;
  }
  const int threads = atoi(argv[1]);
  const int runs = atoi(argv[2]);
  if (threads < 1 || threads > 1024 || runs < 0) {
    fprintf(stderr, "bench-floor-many: THREADS from 1 to 1024, RUNS from 0\n");
    return 2;
  }
  for (int run = runs == 0 ? 1 : 0; run <= (runs == 0 ? 1 : runs); ++run) {
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long files = Pass(threads, argc - 3, argv + 3);
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("%s %.6f %ld 0\n", run == 0 ? "warmup" : "run",
           (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9, files);
    fflush(stdout);
  }
  return 0;
}
