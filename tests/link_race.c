/* Races the tool as someone else writing in the same folder would: while the tool copies a
 * large input again and again, another process puts a symbolic link to the input at the
 * copy's name and takes it away, over and over. The input must never change, and each time
 * the tool says it copied, a real copy with the right bytes must have stood at the copy's name:
 * it stands there still, or the racer took it away in place of its link.
 * It runs for SECONDS, longer only until the tool has both copied and been refused once.
 *
 *     link_race TOOL SECONDS   (works in a fresh folder under /tmp; exits 1 on any damage) */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static const char input[] = "in.txt", copy[] = "in.txt_noNl.txt";
static char text[400000], joined[400000], seen[400001];

/* Whether the file called name holds exactly size bytes of bytes. */
static int holds(const char* name, const char* bytes, size_t size)
{
    FILE* file = fopen(name, "rb");
    const size_t got = file != NULL ? fread(seen, 1, sizeof seen, file) : sizeof seen;
    if (file != NULL)
        fclose(file);
    return got == size && memcmp(seen, bytes, size) == 0;
}

static void put(const char* name, const char* bytes, size_t size)
{
    FILE* file = fopen(name, "wb");
    if (file == NULL || fwrite(bytes, 1, size, file) != size || fclose(file) != 0)
        abort();
}

int main(int argc, char** argv)
{
    char* tool = argc == 3 ? realpath(argv[1], NULL) : NULL; /* it runs in another folder */
    char folder[] = "/tmp/nonl-race-XXXXXX";
    if (tool == NULL || mkdtemp(folder) == NULL || chdir(folder) != 0) {
        fprintf(stderr, "usage: link_race TOOL SECONDS\n");
        return 2;
    }
    const time_t end = time(NULL) + atol(argv[2]), last = end + 4 * atol(argv[2]);
    size_t size = 0, joinedSize = 0;
    for (int line = 0; size + 40 < sizeof text; ++line)
        size += (size_t)sprintf(text + size, "line %d of the input to the race\n", line);
    for (size_t i = 0; i < size; ++i)
        if (text[i] != '\n')
            joined[joinedSize++] = text[i];
    put(input, text, size);

    /* The racer takes away what it finds at the name after putting its link there: its link,
     * or the tool's copy put in its place, which it counts and checks. */
    long* taken = mmap(NULL, 2 * sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (taken == MAP_FAILED)
        abort();
    const pid_t racer = fork();
    while (racer == 0) {
        struct stat found;
        if (symlink(input, copy) != 0 || rename(copy, "taken") != 0 || lstat("taken", &found) != 0)
            continue;
        if (S_ISREG(found.st_mode))
            ++taken[holds("taken", joined, joinedSize) ? 0 : 1]; /* right copies, wrong ones */
        unlink("taken");
    }

    long run = 0, copied = 0, refused = 0, damaged = 0, falseSuccesses = 0;
    for (; time(NULL) < end || ((copied == 0 || refused == 0) && time(NULL) < last); ++run) {
        struct stat found;
        if (lstat(copy, &found) == 0 && S_ISREG(found.st_mode))
            unlink(copy);
        const long takenBefore = taken[0];
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open("/dev/null", O_WRONLY), 1);
            dup2(1, 2);
            execl(tool, tool, input, (char*)NULL);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (status == 0) {
            ++copied;
            int seen = lstat(copy, &found) == 0 && S_ISREG(found.st_mode) && holds(copy, joined, joinedSize);
            for (int waited = 0; !seen && waited < 1000; ++waited, usleep(1000)) /* the racer counts it */
                seen = taken[0] != takenBefore;
            falseSuccesses += !seen;
        } else if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
            ++refused; /* a link stood at the copy's name */
        } else {
            fprintf(stderr, "run %ld: the tool ended with wait status %d\n", run, status);
            ++falseSuccesses;
            break;
        }
        if (!holds(input, text, size)) {
            ++damaged;
            put(input, text, size); /* for the next run */
        }
    }
    kill(racer, SIGKILL);
    waitpid(racer, NULL, 0);
    unlink(copy);
    unlink("taken");
    unlink(input);
    rmdir(folder);
    printf("link race: %ld runs, %ld copied (%ld taken by the racer), %ld refused, %ld inputs damaged, "
           "%ld successes without a copy, %ld wrong copies\n",
           run, copied, taken[0], refused, damaged, falseSuccesses, taken[1]);
    return damaged == 0 && falseSuccesses == 0 && taken[1] == 0 && copied > 0 && refused > 0 ? 0 : 1;
}
