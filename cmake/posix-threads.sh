#!/bin/sh
# Compiler launcher for the test programs of the 32-bit build: runs the
# posix-thread-model twin of the compiler it is given (g++-win32 -> g++-posix).
compiler=$1
shift
exec "${compiler%-win32}-posix" "$@"
