// Where a test runs a program that copies trees (treecycle): a private mount
// namespace with its own /var/tmp, and a tmpfs at top holding the source
// tree src, the target dst and the working directory run, which every user
// may write.
#pragma once
#include "tests/support/mountns.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <string>
#include <utility>
#include <vector>

struct RunArea {
    TempDir tmp;
    MountNs ns; // unmounted before tmp goes
    std::string top = tmp / "top", src = top + "/src", dst = top + "/dst", run = top + "/run";
    explicit RunArea(const std::string &tag) : tmp(tag) {}
    // Mounts and makes it all, src as make_tree makes it; "" when done, else why not.
    std::string lay_out(const std::vector<std::pair<std::string, std::string>> &tree);
    // <SRC>, <DST>, <RUN>, <TOP> and <SCRATCH> (tmp) for fill.
    Values names() const
    {
        return {{"<SRC>", src},
                {"<DST>", dst},
                {"<RUN>", run},
                {"<TOP>", top},
                {"<SCRATCH>", tmp.path}};
    }
};

// The user nobody (its uid), and becoming it in a child (which ends with
// status 125 when it cannot).
constexpr unsigned nobody = 65534;
void become_nobody();
// The processes (threads count too) that the user runs now.
int tasks_of(unsigned uid);
