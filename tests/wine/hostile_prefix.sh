#!/usr/bin/env bash
# Prefix set-up of the hostile-tree suite: what Windows programs cannot make
# but a broken or hostile disk can hold, made from the Unix side under
# C:\hostile: names with characters Windows reserves, names past every path
# limit, nesting far deeper than MAX_PATH, a multi-gigabyte sparse file, a
# zero-length file, folders named like programs, and links that loop.
set -euo pipefail
root=$1/drive_c/hostile
mkdir -p "$root"
cd "$root"

mkdir -p 'reserved'
for name in 'a:b' 'star*' 'what?' 'quote"' 'less<' 'more>' 'pipe|' 'back\slash' 'trailing.' 'trailing ' \
            'CON' 'nul.txt' 'LPT1'; do
  printf 'x' > "reserved/$name"
done
mkdir -p 'non-ascii'
printf 'x' > 'non-ascii/café.exe'
printf 'x' > 'non-ascii/日本語.txt'
printf 'x' > 'non-ascii/Ωmega'

mkdir -p 'long'
long_name=$(printf 'n%.0s' $(seq 1 250))
printf 'x' > "long/$long_name"
deep='deep'
for _ in $(seq 1 120); do deep="$deep/d"; done
mkdir -p "$deep"
printf 'x' > "$deep/bottom.txt"

mkdir -p 'sizes'
: > 'sizes/empty.exe'
truncate -s 5G 'sizes/huge.exe'

mkdir -p 'named like programs/evil.exe' 'named like programs/x.dir.exe'

mkdir -p 'loops/inner'
ln -s .. 'loops/inner/up'
ln -s . 'loops/self'
