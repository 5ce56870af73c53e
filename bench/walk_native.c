/* The floor of a discovery's walk: one pass over the tree through directory
   handles (openat, getdents64), the file test in each directory, the same
   pruning and depth limit. Prints the milliseconds the walk took and the
   number of directories it listed.

       walk_native ROOT MAX_DEPTH FILENAME */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static long listed;
static const char* wanted;

static int skipped(const char* name) {
  return !strcmp(name, "node_modules") || !strcmp(name, "venv") || !strcmp(name, "__pycache__") ||
         strstr(name, "-env") != NULL;
}

static void walk(int fd, int depth, int max_depth) {
  struct stat st;
  char buf[32768];
  ++listed;
  fstatat(fd, wanted, &st, 0);
  for (;;) {
    long got = syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (got <= 0) return;
    for (long at = 0; at < got;) {
      unsigned short reclen;
      memcpy(&reclen, buf + at + 16, sizeof reclen);
      unsigned char type = (unsigned char)buf[at + 18];
      const char* name = buf + at + 19;
      at += reclen;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      int directory = type == DT_DIR;
      if (type == DT_UNKNOWN || type == DT_LNK)
        directory = fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
      if (!directory || skipped(name) || depth >= max_depth) continue;
      int sub = openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (sub < 0) continue;
      walk(sub, depth + 1, max_depth);
      close(sub);
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  wanted = argv[3];
  struct timespec a, b;
  clock_gettime(CLOCK_MONOTONIC, &a);
  int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 1;
  walk(fd, 0, atoi(argv[2]));
  close(fd);
  clock_gettime(CLOCK_MONOTONIC, &b);
  printf("%f %ld\n", (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6, listed);
  return 0;
}
