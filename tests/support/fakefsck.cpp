#include "tests/support/fakefsck.h"

#include "tests/support/tmpdir.h"

#include <sstream>
#include <unistd.h>

bool FakeFsck::install(MountNs &ns, const std::string &d)
{
    dir = d;
    make_dirs(dir);
    write_file(dir + "/fsck",
               "#!/bin/sh\n"
               "printf '%s\\n' \"$0\" \"$@\" > '" +
                   dir +
                   "/args'\n"
                   "echo \"$2 $(readlink /proc/$$/fd/1)\" >> '" +
                   dir +
                   "/runs'\n"
                   "cat '" +
                   dir +
                   "/report'\n"
                   "sig=$(cat '" +
                   dir +
                   "/signal')\n"
                   "[ \"$sig\" != 0 ] && kill -s \"$sig\" $$\n"
                   "exit $(cat '" +
                   dir + "/status')\n",
               0755);
    set("", 0);
    return ns.bind(dir + "/fsck", "/usr/sbin/fsck");
}

void FakeFsck::set(const std::string &report, int status, int signal)
{
    write_file(dir + "/report", report);
    write_file(dir + "/status", std::to_string(status) + "\n");
    write_file(dir + "/signal", std::to_string(signal) + "\n");
}

std::vector<std::string> FakeFsck::args() const
{
    std::vector<std::string> v;
    std::istringstream in(read_file(dir + "/args"));
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

std::string FakeFsck::runs() const
{
    return read_file(dir + "/runs");
}

void FakeFsck::forget()
{
    unlink((dir + "/args").c_str());
    unlink((dir + "/runs").c_str());
}

std::string healthy_report(const std::string &rawdev, const std::string &mountp, bool sb)
{
    std::string r = "** " + rawdev +
                    " (NO WRITE)\n"
                    "** Currently Mounted on " +
                    mountp +
                    "\n"
                    "** Phase 1 - Check Blocks and Sizes\n"
                    "** Phase 2 - Check Pathnames\n"
                    "** Phase 3 - Check Connectivity\n"
                    "** Phase 4 - Check Reference Counts\n"
                    "** Phase 5 - Check Cyl groups\n";
    if (sb) r += "FILE SYSTEM STATE IN SUPERBLOCK IS WRONG; FIX.  no\n";
    r += "2 files, 9 used, 1962 free (10 frags, 244 blocks,  0.5% fragmentation)\n";
    return r;
}
