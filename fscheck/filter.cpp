// The rules of a healthy, mounted file system's check report, and the filter
// that judges a report against them line by line.
#include "fscheck/fscheck.h"

#include "libsupport/support.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

std::vector<std::string> expect;

void init_expect(const char *device, const char *mount_point, int exit_code)
{
    // Built to the length they need: a long device or mount point is never cut.
    expect = {
        strprintf("=** %s (NO WRITE)", device),
        strprintf("=** Currently Mounted on %s", mount_point),
        "=** Phase 1 - Check Blocks and Sizes",
        "=** Phase 2 - Check Pathnames",
        "=** Phase 3 - Check Connectivity",
        "=** Phase 4 - Check Reference Counts",
        "=** Phase 5 - Check Cyl groups",
    };
    if (exit_code == 36) expect.push_back("?FILE SYSTEM STATE IN SUPERBLOCK IS WRONG; FIX.  no");
    expect.push_back("&files");
}

// Reads one line of at most size - 1 bytes and drops its newline. A NUL byte
// is kept, as the two characters "\0", and *nul_at tells where the first one
// is (npos when there is none): a line is judged whole, as read, so a damaged
// one ("\0CORRUPTED INODE 5") is never empty and never matches a rule.
static int read_line(FILE *stream, std::string *line, int size, size_t *nul_at)
{
    line->clear();
    *nul_at = std::string::npos;
    int c = EOF, n = 0;
    while (n < size - 1 && (c = getc(stream)) != EOF && c != '\n') {
        if (c == 0 && *nul_at == std::string::npos) *nul_at = line->size();
        *line += c ? std::string(1, (char)c) : std::string("\\0");
        n++;
    }
    if (c == EOF && ferror(stream)) {
        eprintf("fgets() failed.\n");
        return -1;
    }
    return c == EOF && n == 0 ? 0 : 1;
}

static int looking_at(const char **pos, const char *text)
{
    size_t n = strlen(text);
    if (strncmp(*pos, text, n) != 0) return 0;
    *pos += n;
    return 1;
}

static int digits(const char **pos)
{
    const char *p = *pos;
    if (!isdigit((unsigned char)*p)) return 0;
    while (isdigit((unsigned char)*p)) p++;
    *pos = p;
    return 1;
}

static int blanks(const char **pos)
{
    const char *p = *pos;
    if (*p != ' ') return 0;
    while (*p == ' ') p++;
    *pos = p;
    return 1;
}

// "N files, N used, N free (N frags, N blocks, F fragmentation)"
static int is_fsck_files_line(const char *line, const char **stopped_at)
{
    static const char *const counts[] = {" files, ", " used, ", " free (", " frags, ", " blocks,"};
    const char *p = line;
    int ok = 1;
    for (const char *lit : counts)
        if (!digits(&p) || !looking_at(&p, lit)) {
            ok = 0;
            break;
        }
    if (ok && blanks(&p)) {
        const char *figure = p;
        while (*p && *p != ' ') p++;
        ok = p > figure && blanks(&p) && looking_at(&p, "fragmentation)");
    } else {
        ok = 0;
    }
    *stopped_at = p;
    return ok;
}

static void dump_rules(size_t current, const char *line)
{
    eprintf("!ERROR: INTERNAL ERROR: Fell through rules in filter_stream().\n");
    eprintf("!ERROR: Rules:\n");
    for (size_t i = 0; i < expect.size(); i++)
        eprintf(i == current ? "!ERROR:  -> %s\n" : "!ERROR:     %s\n", expect[i].c_str());
    eprintf("!ERROR: Current line:\n  [%s]\n", line);
}

int filter_stream(FILE *stream, const char *device, const char *mount_point)
{
    std::string text_read;
    size_t cur = 0;
    int r;
    size_t nul_at;
    while ((r = read_line(stream, &text_read, 256, &nul_at)) > 0) {
        const char *line = text_read.c_str();
        bool nul = nul_at != std::string::npos;
        if (line[0] == '\0') continue;
        if (cur == expect.size()) {
            eprintf("Unexpected extra line from fsck.\n => %s\n", line);
            return 0;
        }
        const std::string &rule = expect[cur];
        const char *text = rule.c_str() + 1;
        if (rule == "&files") {
            const char *stop;
            bool fits = is_fsck_files_line(line, &stop);
            // Where a NUL byte is, the line stops fitting.
            if (nul && (fits || line + nul_at < stop)) stop = line + nul_at;
            if (!fits || nul) {
                eprintf("fsck -n %s (%s)\n", device, mount_point);
                eprintf("  Expected files line.  Got:\n  %s\nStopped at: %s\n", line, stop);
                return 0;
            }
            cur++;
        } else if (rule[0] == '?') {
            if (!nul && strcmp(line, text) == 0) cur++;
        } else if (rule[0] == '=') {
            if (nul || strcmp(line, text) != 0) {
                eprintf("fsck -n %s (%s)\n", device, mount_point);
                eprintf("  Expected:\n    [%s]\n  Got:\n    [%s]\n", text, line);
                return 0;
            }
            cur++;
        } else {
            dump_rules(cur, line);
            exit(1);
        }
    }
    if (r < 0) {
        perror("read from fsck|");
        return 0;
    }
    return 1;
}
