#pragma once
// halyard-cli run as a user runs it, over the demo disc: the run's exit status, stdout
// and stderr, and a fixture that makes the disc once for a suite.
#include "EngineFixture.h"

namespace halyard::test {

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line in dir's company: stderr goes to a file there.
inline Ran Shell(const std::string& command, const TempDir& dir) {
    Ran run;
    const std::string err = dir.file("stderr.txt");
    run.out = psb::tools::capture(command + " 2>" + psb::tools::shellQuote(err), &run.status);
    run.err = psb::tools::readText(err);
    return run;
}

// halyard-cli with these arguments (shell words); environment ("NAME=value ...") goes
// before it, redirect (" >/dev/full") after.
inline Ran Cli(const std::string& arguments, const TempDir& dir, const std::string& environment = "",
               const std::string& redirect = "") {
    return Shell(environment + " " + psb::tools::shellQuote(HALYARD_CLI_PATH) + " " + arguments + redirect, dir);
}

// The demo disc (FEATURE_1.EVO, FEATURE_2.EVO, VPLST000.XPL), written once for the suite,
// and a fresh folder for each test. Its tests are skipped, with the reason, where
// ffmpeg, ffprobe or mkvmerge are missing.
class DemoDiscTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!psb::tools::haveFfmpeg() || !psb::tools::haveProgram("mkvmerge"))
            return;
        demo_ = new TempDir("halyard-demo");
        if (psb::tools::run(std::string(HALYARD_DEMO_GENERATOR_PATH) + " " + demo_->file("disc") + " >/dev/null") != 0) {
            delete demo_;
            demo_ = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete demo_;
        demo_ = nullptr;
    }
    void SetUp() override {
        if (!demo_)
            GTEST_SKIP() << "ffmpeg, ffprobe and mkvmerge are needed";
    }
    static std::string feature(int n) { return demo_->file("disc/HVDVD_TS/FEATURE_" + std::to_string(n) + ".EVO"); }
    static std::string playlist() { return demo_->file("disc/ADV_OBJ/VPLST000.XPL"); }

    static inline TempDir* demo_ = nullptr;
    TempDir dir{"halyard-run"};
};

} // namespace halyard::test
