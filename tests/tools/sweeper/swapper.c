// swapper A B: exchanges the two paths with renameat2(RENAME_EXCHANGE), as
// fast as it can, until it is killed or an exchange fails. The fastest way to
// swap a folder for a symbolic link beside a program that walks through it.

#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: swapper A B\n", stderr);
    return 2;
  }
  for (;;) {
    if (renameat2(AT_FDCWD, argv[1], AT_FDCWD, argv[2], RENAME_EXCHANGE) != 0) {
      perror("swapper: renameat2");
      return 1;
    }
  }
}
