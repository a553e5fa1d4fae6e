/* bench/slowfs.c: a stand-in for a network share. A read-only FUSE mirror of
   a folder in which every folder read waits a fixed time first, as a folder
   read on a share waits for its round trip; everything else passes straight
   through. Usage: slowfs SOURCE MOUNTPOINT DELAY_MS [FUSE OPTIONS]
   (unmount with fusermount3 -u MOUNTPOINT). */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static const char *source;
static long delayMs;

/* The path below the mirrored folder. */
static void Real(char *out, const char *path) { snprintf(out, PATH_MAX, "%s%s", source, path); }

static void *Init(struct fuse_conn_info *connection, struct fuse_config *config) {
    (void)connection;
    config->use_ino = 1;  /* the real inode numbers: folder identities stay true */
    config->entry_timeout = config->attr_timeout = 60;
    return NULL;
}

static int GetAttr(const char *path, struct stat *st, struct fuse_file_info *file) {
    (void)file;
    char real[PATH_MAX];
    Real(real, path);
    return lstat(real, st) == 0 ? 0 : -errno;
}

static int ReadLink(const char *path, char *buffer, size_t size) {
    char real[PATH_MAX];
    Real(real, path);
    ssize_t length = readlink(real, buffer, size - 1);
    if (length < 0) return -errno;
    buffer[length] = '\0';
    return 0;
}

/* Every folder read waits first: the round trip of a share. */
static int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info *file,
                   enum fuse_readdir_flags flags) {
    (void)offset, (void)file, (void)flags;
    struct timespec wait = {delayMs / 1000, (delayMs % 1000) * 1000000L};
    nanosleep(&wait, NULL);
    char real[PATH_MAX];
    Real(real, path);
    DIR *folder = opendir(real);
    if (!folder) return -errno;
    struct dirent *entry;
    while ((entry = readdir(folder)) != NULL) {
        struct stat st;
        memset(&st, 0, sizeof st);
        st.st_ino = entry->d_ino;
        st.st_mode = (mode_t)entry->d_type << 12;
        if (fill(buffer, entry->d_name, &st, 0, 0)) break;
    }
    closedir(folder);
    return 0;
}

static int Open(const char *path, struct fuse_file_info *file) {
    char real[PATH_MAX];
    Real(real, path);
    int handle = open(real, O_RDONLY);
    if (handle < 0) return -errno;
    file->fh = (uint64_t)handle;
    return 0;
}

static int Read(const char *path, char *buffer, size_t size, off_t offset, struct fuse_file_info *file) {
    (void)path;
    ssize_t got = pread((int)file->fh, buffer, size, offset);
    return got < 0 ? -errno : (int)got;
}

static int Release(const char *path, struct fuse_file_info *file) {
    (void)path;
    close((int)file->fh);
    return 0;
}

static const struct fuse_operations Operations = {
    .init = Init, .getattr = GetAttr, .readlink = ReadLink, .readdir = ReadDir,
    .open = Open, .read = Read, .release = Release,
};

int main(int argc, char *argv[]) {
    if (argc < 4) {
        fprintf(stderr, "usage: slowfs SOURCE MOUNTPOINT DELAY_MS [FUSE OPTIONS]\n");
        return 2;
    }
    source = realpath(argv[1], NULL);
    delayMs = atol(argv[3]);
    if (!source) {
        perror(argv[1]);
        return 2;
    }
    /* FUSE sees: program, mount point, its own options. */
    char *fuseArgs[16] = {argv[0], argv[2], "-o", "ro,allow_other"};
    int count = 4;
    for (int i = 4; i < argc && count < 15; ++i) fuseArgs[count++] = argv[i];
    return fuse_main(count, fuseArgs, &Operations, NULL);
}
