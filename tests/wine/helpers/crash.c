/* Crashes at once: the template prefix must end it with a failure status. */
int main(void) {
  volatile int* volatile nowhere = 0;
  *nowhere = 1;
  return 0;
}
