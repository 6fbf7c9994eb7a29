/* Stand-in for the desktop program in the black-box tests. It writes what it
 * was started with to record-<pid>.txt beside itself, then exits at once.
 *
 * Record format, one item per line, texts as lowercase hex of their bytes:
 *   pid <decimal>
 *   sid <decimal>              session id (equal to pid when started in a session of its own)
 *   arg <hex>                  one line per argv element, argv[0] first
 *   cwd <hex>                  working directory
 *   fd <decimal> <hex>         one line per open descriptor and what it points at
 *   sigblk <hex digits>        the blocked-signal mask, as /proc/self/status shows it
 *   end
 * The file is written under a temporary name and renamed, so a reader never
 * sees half a record. */
#define _GNU_SOURCE
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void putHex(FILE* out, const char* text) {
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) fprintf(out, "%02x", *p);
}

static void recordDescriptors(FILE* out) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return;
    int own = dirfd(dir);
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (entry->d_name[0] == '.') continue;
        int number = atoi(entry->d_name);
        if (number == own || number == fileno(out)) continue;
        char link[64];
        char target[PATH_MAX + 1];
        snprintf(link, sizeof link, "/proc/self/fd/%d", number);
        ssize_t length = readlink(link, target, PATH_MAX);
        if (length < 0) length = 0;
        target[length] = '\0';
        fprintf(out, "fd %d ", number);
        putHex(out, target);
        fputc('\n', out);
    }
    closedir(dir);
}

static void recordBlockedSignals(FILE* out) {
    FILE* status = fopen("/proc/self/status", "r");
    if (!status) return;
    char line[256];
    while (fgets(line, sizeof line, status)) {
        if (strncmp(line, "SigBlk:", 7) == 0) {
            char* value = line + 7;
            while (*value == ' ' || *value == '\t') ++value;
            value[strcspn(value, "\n")] = '\0';
            fprintf(out, "sigblk %s\n", value);
        }
    }
    fclose(status);
}

int main(int argc, char** argv) {
    char folder[PATH_MAX];
    const char* slash = argc > 0 ? strrchr(argv[0], '/') : NULL;
    if (slash) {
        size_t length = (size_t)(slash - argv[0]);
        if (length >= sizeof folder) return 3;
        memcpy(folder, argv[0], length);
        folder[length] = '\0';
    } else {
        strcpy(folder, ".");
    }

    char partial[PATH_MAX + 64];
    char final[PATH_MAX + 64];
    snprintf(partial, sizeof partial, "%s/.record-%d.tmp", folder, (int)getpid());
    snprintf(final, sizeof final, "%s/record-%d.txt", folder, (int)getpid());
    FILE* out = fopen(partial, "w");
    if (!out) return 4;

    fprintf(out, "pid %d\nsid %d\n", (int)getpid(), (int)getsid(0));
    for (int i = 0; i < argc; ++i) {
        fputs("arg ", out);
        putHex(out, argv[i]);
        fputc('\n', out);
    }
    char cwd[PATH_MAX];
    fputs("cwd ", out);
    if (getcwd(cwd, sizeof cwd)) putHex(out, cwd);
    fputc('\n', out);
    recordDescriptors(out);
    recordBlockedSignals(out);
    fputs("end\n", out);
    if (fclose(out) != 0) return 5;
    return rename(partial, final) == 0 ? 0 : 6;
}
