// targetscan on real SCSI implementations: one boot of the SCSI rig runs it
// on every disk node (sd and sg) and records what sg3-utils make of the same
// devices and their raw answers (tests/lab/scsi-survey); the cases compare.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

namespace
{

struct Impl {
    const char *name;
    std::vector<std::string> pages; // as sg_modes -6 -a lists them, in order
};

const Impl kImpls[] = {
    {"virtio-scsi", {"01", "04", "05", "08"}},
    {"lsi53c895a", {"01", "04", "05", "08"}},
    {"megasas", {"01", "04", "05", "08"}},
    {"scsi_debug", {"01", "02", "03", "08", "0a", "19", "1c"}},
};

struct Survey {
    TempDir dir{"labscsi"};
    RunResult run;
    std::string out, err;
    int status = -1;
    std::map<std::string, std::string> block; // device node -> its stdout block
    std::vector<std::string> order;           // device nodes as targetscan printed them
};

// Splits targetscan's standard output at the device titles.
void split_blocks(Survey &s)
{
    static const std::regex title("(=+)\nlab (/dev/[a-z0-9]+)\n(=+)\n");
    auto begin = std::sregex_iterator(s.out.begin(), s.out.end(), title);
    std::vector<std::pair<size_t, std::string>> at;
    for (auto it = begin; it != std::sregex_iterator(); ++it)
        at.push_back({size_t(it->position(0)), (*it)[2].str()});
    for (size_t i = 0; i < at.size(); i++) {
        size_t end = i + 1 < at.size() ? at[i + 1].first : s.out.size();
        s.block[at[i].second] = s.out.substr(at[i].first, end - at[i].first);
        s.order.push_back(at[i].second);
    }
}

Survey &survey()
{
    static Survey *s = [] {
        auto *s = new Survey;
        RunOptions o;
        o.timeout_s = 360;
        s->run = run_program(lab_path("scsi-survey"),
                             {"--timeout", "300", s->dir.path, bin_path("targetscan")}, o);
        s->out = read_file(s->dir / "program.out");
        s->err = read_file(s->dir / "program.err");
        s->status = atoi(read_file(s->dir / "program.status").c_str());
        split_blocks(*s);
        return s;
    }();
    return *s;
}

std::string file(const std::string &impl, const std::string &what)
{
    return read_file(survey().dir / (impl + "." + what));
}

// "SD-NODE SG-NODE" of an implementation.
std::vector<std::string> nodes(const std::string &impl)
{
    std::istringstream in(file(impl, "nodes"));
    std::string sd, sg;
    in >> sd >> sg;
    return {sd, sg};
}

std::string match(const std::string &text, const std::string &re)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(re))) return "(no match for " + re + ")";
    return m[1].str();
}

// A text field of the raw answer as far as its first zero byte.
std::string field(const std::string &raw, size_t at, size_t width)
{
    std::string f = at < raw.size() ? raw.substr(at, width) : "";
    return f.substr(0, f.find('\0'));
}

TEST(LabTargetscan, SurveyRanAndEveryNodeWasProbedInOrder)
{
    Survey &s = survey();
    ASSERT_TRUE(s.run.exited) << s.run.err;
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    EXPECT_EQ(s.status, 0);
    std::vector<std::string> sd, sg;
    for (const Impl &i : kImpls) {
        auto n = nodes(i.name);
        sd.push_back(n[0]);
        sg.push_back(n[1]);
    }
    sd.insert(sd.end(), sg.begin(), sg.end());
    EXPECT_EQ(s.order, sd);
}

// Every device ends at the saved-values MODE SENSE, which all four refuse;
// then the next device follows, and the run still ends with its pass line.
TEST(LabTargetscan, SavedValuesRefusedEndEachDevice)
{
    Survey &s = survey();
    std::string want;
    for (size_t i = 0; i < 2 * std::size(kImpls); i++)
        want += "!ERROR: ioctl(SCSI_MODE_SENSE): Input/output error\n";
    want += "!PASS: no errors found in targetscan";
    EXPECT_EQ(s.err, want);
    for (const Impl &i : kImpls) {
        std::string refused = file(i.name, "mode-pc3.refused");
        EXPECT_NE(refused.find("Illegal Request"), std::string::npos) << i.name << ": " << refused;
        EXPECT_FALSE(file_exists(s.dir / (std::string(i.name) + ".mode-pc3.got"))) << i.name;
    }
}

class Device : public testing::TestWithParam<Impl>
{
};

// Title, rules and the whole block, its values taken from sg3-utils' view.
TEST_P(Device, BlockAgreesWithSg3Utils)
{
    const std::string impl = GetParam().name;
    const std::string cap = file(impl, "sg_readcap"), inq = file(impl, "sg_inq");
    // sg_inq does not show the vendor-specific bytes 36 on: those from the answer.
    const std::string raw = file(impl, "inquiry.bin");
    const int version = std::stoi(match(inq, "version=0x([0-9a-f]+)"), nullptr, 16);
    ASSERT_EQ(match(inq, "PQual=([0-9])") + match(inq, "PDT=([0-9]+)"), "00") << inq;
    auto bit = [&](const char *re) { return match(inq, re) == "1" ? "Yes" : "No"; };
    auto text = [](const std::string &s, size_t width) {
        return (s.substr(0, width) + std::string(width, ' ')).substr(0, width);
    };
    Values v = {
        {"<CAP>", match(cap, "Number of logical blocks=([0-9]+)")},
        {"<RMB>", bit("RMB=([01])")},
        {"<ISO>", std::to_string(version >> 6)},
        {"<ECMA>", std::to_string((version >> 3) & 7)},
        {"<ANSI>", std::to_string(version & 7)},
        {"<AERC>", bit("\\[AERC=([01])\\]")},
        {"<TRMTSK>", bit("\\[TrmTsk=([01])\\]")},
        {"<RDF>", match(inq, "Resp_data_format=([0-9])")},
        {"<RELADR>", bit("\\[RelAdr=([01])\\]")},
        {"<WBUS16>", bit("WBus16=([01])")},
        {"<SYNC>", bit("Sync=([01])")},
        {"<LINKED>", bit("\\[Linked=([01])\\]")},
        {"<CMDQUE>", bit("CmdQue=([01])")},
        {"<VENDOR>", text(match(inq, "Vendor identification: (.*)\n"), 8)},
        {"<PRODUCT>", text(match(inq, "Product identification: (.*)\n"), 16)},
        {"<REVISION>", text(match(inq, "Product revision level: (.*)\n"), 4)},
        {"<COMMENT1>", text(field(raw, 36, 20), 20)},
        {"<COMMENT2>", text(field(raw, 56, 40), 40)},
        {"<COMMENT3>", text(field(raw, 96, 40), 40)},
    };
    for (const std::string &node : nodes(impl)) {
        SCOPED_TRACE(impl + " " + node);
        Values title = {{"<NODE>", node}, {"<RULE>", std::string(node.size() + 4, '=')}};
        title.insert(title.end(), v.begin(), v.end());
        EXPECT_EQ(match_transcript(survey().block[node],
                                   "tests/lab/transcripts/targetscan_block.txt", title),
                  "");
    }
}

// The other three page controls answer: sg_modes names the pages.
TEST_P(Device, PageControlsZeroToTwoAnswerWithTheExpectedPages)
{
    const Impl &i = GetParam();
    static const char *pc_name[] = {"current", "changeable", "default"};
    for (int pc = 0; pc < 3; pc++) {
        std::string text = file(i.name, "sg_modes-pc" + std::to_string(pc));
        std::vector<std::string> pages;
        std::string raw = read_file(
            survey().dir / (std::string(i.name) + ".mode-pc" + std::to_string(pc) + ".bin"));
        ASSERT_GE(raw.size(), 12u);
        size_t len = (unsigned char)raw[0] + 1;
        for (size_t at = 4 + (unsigned char)raw[3]; at + 1 < len;
             at += (unsigned char)raw[at + 1] + 2) {
            char code[3];
            snprintf(code, sizeof code, "%02x", raw[at] & 0x3f);
            pages.push_back(code);
        }
        EXPECT_EQ(pages, i.pages) << "page control " << pc;
        size_t n = 0;
        for (size_t at = 0;
             (at = text.find(std::string("page_control: ") + pc_name[pc], at)) != std::string::npos;
             at++)
            n++;
        EXPECT_EQ(n, i.pages.size()) << text;
    }
}

// The committed fixtures are what these devices answer now.
TEST_P(Device, AnswersEqualTheCommittedFixtures)
{
    const std::string impl = GetParam().name;
    for (const char *cmd : {"readcap", "inquiry", "mode-pc0", "mode-pc1", "mode-pc2"}) {
        std::string name = impl + "." + cmd + ".bin";
        EXPECT_EQ(read_file(survey().dir / name),
                  read_file(std::string(SUITE_SOURCE_DIR) + "/tests/targetscan/fixtures/" + name))
            << name << " differs; tests/targetscan/fixtures/README.md says how to make it again";
    }
}

INSTANTIATE_TEST_SUITE_P(Rig, Device, testing::ValuesIn(kImpls),
                         [](const testing::TestParamInfo<Impl> &p) {
                             std::string n = p.param.name;
                             for (char &c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

} // namespace
