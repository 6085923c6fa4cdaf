#include "tests/support/runarea.h"

#include "tests/support/process.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

std::string RunArea::lay_out(const std::vector<std::pair<std::string, std::string>> &tree)
{
    if (!ns.ok()) return ns.error;
    if (!ns.tmpfs("/var/tmp", "tmpfs", "size=16m,mode=1777") ||
        !ns.tmpfs(top, "tmpfs", "size=64m,mode=0777"))
        return "cannot mount a tmpfs";
    make_tree(src, tree);
    for (auto &d : {dst, run}) {
        make_dirs(d);
        chmod(d.c_str(), 0777);
    }
    chmod(tmp.path.c_str(), 0755);
    return "";
}

void become_nobody()
{
    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(125);
}

int tasks_of(unsigned uid)
{
    std::string out;
    shell("cat /proc/[0-9]*/status 2>/dev/null | awk '/^Uid:/ { u = $2 } /^Threads:/ { if (u == " +
              std::to_string(uid) + ") n += $2 } END { print n + 0 }'",
          &out);
    return std::stoi(out);
}
