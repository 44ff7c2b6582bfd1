/* Races the tool as someone else writing in the same folder would: while the tool copies a
 * large input again and again, another process puts a symbolic link to the input at the
 * copy's name and takes it away, over and over. The input must never change, and each time
 * the tool says it copied, a real copy with the right bytes must stand at the copy's name.
 *
 *     link_race TOOL RUNS
 *
 * Works in a fresh folder under /tmp; prints what it saw; exits 1 on any damage. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static const char input[] = "in.txt", copy[] = "in.txt_noNl.txt";

static char* readAll(const char* name, size_t* size)
{
    char* bytes = NULL;
    *size = 0;
    FILE* file = fopen(name, "rb");
    if (file == NULL)
        return NULL;
    for (size_t room = 0;;) {
        if (*size == room && (bytes = realloc(bytes, room = room * 2 + 65536)) == NULL)
            abort();
        const size_t got = fread(bytes + *size, 1, room - *size, file);
        if (got == 0)
            break;
        *size += got;
    }
    fclose(file);
    return bytes;
}

static int holds(const char* name, const char* bytes, size_t size)
{
    size_t found;
    char* text = readAll(name, &found);
    const int same = text != NULL && found == size && memcmp(text, bytes, size) == 0;
    free(text);
    return same;
}

static void writeAll(const char* name, const char* bytes, size_t size)
{
    FILE* file = fopen(name, "wb");
    if (file == NULL || fwrite(bytes, 1, size, file) != size || fclose(file) != 0)
        abort();
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: link_race TOOL RUNS\n");
        return 2;
    }
    char* tool = realpath(argv[1], NULL); /* it runs in another folder */
    const long runs = atol(argv[2]);
    char folder[] = "/tmp/nonl-race-XXXXXX";
    if (tool == NULL) {
        perror(argv[1]);
        return 2;
    }
    if (mkdtemp(folder) == NULL || chdir(folder) != 0)
        abort();

    /* About 400 KB of lines, and the same without its LFs. */
    static char text[400000], joined[400000];
    size_t size = 0, joinedSize = 0;
    for (int line = 0; size + 40 < sizeof text; ++line)
        size += (size_t)sprintf(text + size, "line %d of the input to the race\n", line);
    for (size_t i = 0; i < size; ++i)
        if (text[i] != '\n')
            joined[joinedSize++] = text[i];
    writeAll(input, text, size);

    /* The racer only ever removes its own link: while the name holds a link, the tool cannot
     * put a file there, and a file there makes the link fail. */
    const pid_t racer = fork();
    if (racer == 0) {
        for (;;)
            if (symlink(input, copy) == 0)
                unlink(copy);
    }

    long copied = 0, refused = 0, damaged = 0, falseSuccesses = 0;
    for (long run = 0; run < runs; ++run) {
        struct stat found;
        if (lstat(copy, &found) == 0 && S_ISREG(found.st_mode))
            unlink(copy);
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(tool, tool, input, (char*)NULL);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const int success = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (success) {
            ++copied;
            if (lstat(copy, &found) != 0 || !S_ISREG(found.st_mode) || !holds(copy, joined, joinedSize))
                ++falseSuccesses;
        } else if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
            ++refused;
        } else {
            fprintf(stderr, "run %ld: the tool ended with wait status %d\n", run, status);
            ++falseSuccesses;
            break;
        }
        if (!holds(input, text, size)) {
            ++damaged;
            writeAll(input, text, size);
        }
    }
    kill(racer, SIGKILL);
    waitpid(racer, NULL, 0);
    unlink(copy);
    unlink(input);
    rmdir(folder);
    free(tool);
    printf("link race: %ld runs, %ld copied, %ld refused (a link stood at the copy's name), "
           "%ld inputs damaged, %ld successes without a copy\n",
           runs, copied, refused, damaged, falseSuccesses);
    return damaged == 0 && falseSuccesses == 0 && copied > 0 && refused > 0 ? 0 : 1;
}
