// swapper A B: exchanges the two paths with renameat2(RENAME_EXCHANGE), as
// fast as it can, until it is killed or an exchange fails otherwise than for
// a path not there yet. The fastest way to swap a folder for a symbolic link,
// or for another folder, beside a program that walks through it.

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: swapper A B\n", stderr);
    return 2;
  }
  for (;;) {
    if (renameat2(AT_FDCWD, argv[1], AT_FDCWD, argv[2], RENAME_EXCHANGE) != 0 && errno != ENOENT) {
      perror("swapper: renameat2");
      return 1;
    }
  }
}
