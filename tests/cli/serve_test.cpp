#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "cli/serve.h"
#include "wmi/remote_protocol.h"
#include "wmi/snapshot/snapshot.h"

namespace fs = std::filesystem;
namespace rp = wmi::remote;

namespace {

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

struct Served {
    int code;
    std::vector<std::string> lines;
};

// Runs serve over files standing in for its standard input and output.
Served Serve(const std::string& requests, wmi::Provider& provider) {
    fs::path dir = fs::temp_directory_path() / ("kestrane-serve-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "in", std::ios::binary) << requests;
    int in = ::open((dir / "in").c_str(), O_RDONLY);
    int out = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Served s{kestrane::cli::Serve(in, out, provider, "sample-host"), {}};
    ::close(in);
    ::close(out);
    std::ifstream f(dir / "out", std::ios::binary);
    for (std::string l; std::getline(f, l);) s.lines.push_back(l);
    fs::remove_all(dir);
    return s;
}

std::string Hello() { return rp::HelloRequestLine("test"); }

}  // namespace

TEST(Serve, AnswersEachClassAsTheProviderGivesItAndGoesOnAfterAnError) {
    auto snap = wmi::LoadSnapshot(kSample);
    Served s = Serve(Hello() + rp::ClassRequestLine(1, "Win32_NoSuchThing") + rp::ClassRequestLine(2, "Win32_Processor") +
                         rp::ClassRequestLine(3, "../../etc/passwd"),
                     *snap);
    EXPECT_EQ(s.code, 0);
    ASSERT_GE(s.lines.size(), 4u);
    EXPECT_EQ(rp::ParseHello(s.lines[0]).computer, "sample-host");
    try {
        rp::AnswerReader(1).feed(s.lines[1]);
        ADD_FAILURE() << "no error for a missing class";
    } catch (const wmi::Error& e) {
        EXPECT_EQ(e.unsignedNumber(), wmi::WBEM_E_INVALID_CLASS);
    }
    rp::AnswerReader reader(2);
    std::size_t i = 2;
    auto direct = snap->enumerate("Win32_Processor");
    while (!reader.done() && i < s.lines.size())
        if (auto o = reader.feed(s.lines[i++])) {
            auto d = direct->next();
            ASSERT_TRUE(d);
            EXPECT_EQ(o->className(), d->className());
            EXPECT_EQ(o->values(), d->values());
        }
    EXPECT_FALSE(direct->next());
    // A request naming a path is no class, and nothing else is answered.
    ASSERT_EQ(i + 1, s.lines.size());
    EXPECT_THROW(rp::AnswerReader(3).feed(s.lines[i]), wmi::Error);
}

TEST(Serve, RefusesWhatBreaksTheProtocolWithOneErrorLine) {
    wmi::EmptyProvider none;
    const std::vector<std::string> bad = {
        rp::ClassRequestLine(1, "Win32_BIOS"),                 // before the greeting
        Hello() + "this is not json\n",
        Hello() + std::string(rp::kMaxRequestLine + 10, 'x'),  // no end of line in sight
        R"({"hello":"kestrane","protocol":99})" "\n",
    };
    for (const auto& req : bad) {
        Served s = Serve(req, none);
        EXPECT_EQ(s.code, 2);
        ASSERT_FALSE(s.lines.empty());
        EXPECT_THROW(rp::ParseHello(s.lines.back()), wmi::Error) << s.lines.back();
    }
    // The end of input ends a session quietly.
    EXPECT_EQ(Serve(Hello(), none).code, 0);
}
