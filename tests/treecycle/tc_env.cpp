#include "tests/treecycle/tc_env.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

bool TcEnv::init(const std::string &top_opts, bool make_source)
{
    if (!ns.tmpfs("/var/tmp", "tmpfs", "size=16m,mode=1777")) {
        error = "tmpfs on /var/tmp failed";
        return false;
    }
    top = tmp / "top";
    if (!ns.tmpfs(top, "tmpfs", top_opts)) {
        error = "tmpfs on " + top + " failed";
        return false;
    }
    src = top + "/src";
    dst = top + "/dst";
    run = top + "/run";
    make_dirs(dst);
    make_dirs(run);
    make_dirs(src);
    if (make_source)
        make_tree(src, {{"a.txt", "alpha\n"},
                        {"empty", ""},
                        {"sub/", ""},
                        {"sub/b.txt", std::string(20000, 'b')},
                        {"sub/deeper/", ""},
                        {"sub/deeper/c.txt", "gamma\n"}});
    return true;
}

RunResult TcEnv::tc(const std::vector<std::string> &args, int timeout_s,
                    const std::string &cwd) const
{
    RunOptions o;
    o.cwd = cwd.empty() ? run : cwd;
    o.timeout_s = timeout_s;
    return run_program(bin_path("treecycle"), args, o);
}

std::string TcEnv::run_log_path() const
{
    for (auto &n : dir_entries("/var/tmp"))
        if (n.rfind("TRC7.", 0) == 0 && n.size() > 4 && n.compare(n.size() - 4, 4, ".log") == 0)
            return "/var/tmp/" + n;
    return "";
}

std::string TcEnv::run_log() const
{
    std::string p = run_log_path();
    return p.empty() ? "" : read_file(p);
}

static bool all_digits(const std::string &s, size_t from, size_t n)
{
    if (from + n > s.size()) return false;
    for (size_t k = from; k < from + n; k++)
        if (!isdigit((unsigned char)s[k])) return false;
    return true;
}

// "%ld %04d%02d%02d%02d%02d%02d %4d:%02d:%02d: " at the start of l: the
// length of that prefix, or 0.
static size_t event_prefix(const std::string &l, std::string *epoch, std::string *date)
{
    size_t sp = l.find(' ');
    if (sp == std::string::npos || sp == 0 || !all_digits(l, 0, sp)) return 0;
    if (!all_digits(l, sp + 1, 14) || l.size() < sp + 16 || l[sp + 15] != ' ') return 0;
    size_t p = sp + 16, colon = l.find(':', p);
    if (colon == std::string::npos || colon - p < 4) return 0;
    size_t h = p;
    while (h < colon && l[h] == ' ') h++;
    if (h == colon || !all_digits(l, h, colon - h)) return 0;
    if (!all_digits(l, colon + 1, 2) || l.size() < colon + 7 || l[colon + 3] != ':' ||
        !all_digits(l, colon + 4, 2) || l[colon + 6] != ':' || l[colon + 7] != ' ')
        return 0;
    if (l[colon + 1] > '5' || l[colon + 4] > '5') return 0;
    *epoch = l.substr(0, sp);
    *date = l.substr(sp + 1, 14);
    return colon + 8;
}

std::string normalize_events(const std::string &log, std::string *bad)
{
    std::string outp;
    std::istringstream in(log);
    std::string l;
    while (std::getline(in, l)) {
        std::string epoch, date;
        if (size_t n = event_prefix(l, &epoch, &date)) {
            time_t t = std::stol(epoch);
            struct tm tm;
            localtime_r(&t, &tm);
            char d[32];
            strftime(d, sizeof d, "%Y%m%d%H%M%S", &tm);
            if (date != d) *bad += "date " + date + " is not the local time of " + epoch + "\n";
            l = "<EV>" + l.substr(n);
        }
        outp += l + "\n";
    }
    if (!log.empty() && log.back() != '\n') outp.pop_back();
    return outp;
}

std::vector<std::string> dir_entries(const std::string &dir)
{
    std::vector<std::string> v;
    DIR *d = opendir(dir.c_str());
    if (!d) return v;
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) v.push_back(e->d_name);
    closedir(d);
    std::sort(v.begin(), v.end());
    return v;
}

bool wait_for_text(const std::string &path, const std::string &text, int timeout_s)
{
    for (int i = 0; i < timeout_s * 50; i++) {
        if (file_exists(path) && contains(read_file(path), text)) return true;
        usleep(20000);
    }
    return false;
}

std::string without_cpio_report(const std::string &log)
{
    size_t nl = log.find('\n');
    size_t sp = log.find(' ');
    if (nl == std::string::npos || sp == std::string::npos || sp == 0 || sp > nl ||
        !all_digits(log, 0, sp))
        return log;
    std::string word = log.substr(sp + 1, nl - sp - 1);
    return word == "blocks" || word == "block" ? log.substr(nl + 1) : log;
}

