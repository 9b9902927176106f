// halyard-bench-playlist [LINES]
//
// Times the Read XPL job over a generated playlist of about LINES lines (default
// 100,000; about 6 MB): an attribute list, then titles of one clip each with two
// video tracks, eight audio and four subtitle streams, and a chapter list. Two
// figures, the best of five runs each:
//   title:    the source's title lies in the middle of the file (scan, cut, tree)
//   no title: no line names the source (scan only; the memo keeps every line)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "jobs/Jobs.h"
#include "playlist/ReadXpl.h"

namespace {

class QuietUi : public halyard::UiModel {
public:
    void log(std::string_view) override {}
    void slog(std::string_view, int) override {}
};

constexpr int kLinesPerTitle = 23; // the memo lines of one title

std::string title(int n) {
    const std::string id = std::to_string(n);
    std::string x = "    <Title id=\"T" + id + "\" titleNumber=\"" + id + "\" displayName=\"Title " + id +
                    "\" titleDuration=\"00:42:00:00\">\r\n";
    x += "      <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/CLIP" + id + "_1.MAP\" dataSource=\"Disc\">\r\n";
    x += "        <Video track=\"1\" mediaAttr=\"1\"/>\r\n";
    x += "        <Video track=\"2\" mediaAttr=\"2\"/>\r\n";
    for (int k = 1; k <= 8; ++k)
        x += "        <Audio track=\"" + std::to_string(k) + "\" streamNumber=\"" + std::to_string(k) +
             "\" mediaAttr=\"1\" description=\"en\"/>\r\n";
    for (int k = 1; k <= 4; ++k)
        x += "        <Subtitle track=\"" + std::to_string(k) + "\" streamNumber=\"" + std::to_string(k) +
             "\" mediaAttr=\"1\"/>\r\n";
    x += "      </PrimaryAudioVideoClip>\r\n      <ChapterList>\r\n";
    for (int k = 0; k < 3; ++k)
        x += "        <Chapter displayName=\"Chapter " + std::to_string(k) + "\" titleTimeBegin=\"00:1" +
             std::to_string(k) + ":00:00\"/>\r\n";
    x += "      </ChapterList>\r\n    </Title>\r\n";
    return x;
}

std::string playlist(int titles) {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                    "<Playlist xmlns=\"http://www.dvdforum.org/2005/HDDVDVideo/Playlist\" displayName=\"Bench\">\r\n"
                    "  <MediaAttributeList>\r\n"
                    "    <VideoAttributeItem index=\"1\" codec=\"VC-1\"/>\r\n"
                    "    <VideoAttributeItem index=\"2\" codec=\"VC-1\"/>\r\n"
                    "    <AudioAttributeItem index=\"1\" codec=\"DD+\" channels=\"6\"/>\r\n"
                    "    <SubpictureAttributeItem index=\"1\" codec=\"8bitRLE\"/>\r\n"
                    "  </MediaAttributeList>\r\n"
                    "  <TitleSet timeBase=\"60fps\" tickBase=\"24fps\">\r\n";
    for (int n = 1; n <= titles; ++n)
        x += title(n);
    return x + "  </TitleSet>\r\n</Playlist>\r\n";
}

double bestSeconds(const std::string& path, const std::string& source, size_t& memoLines) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        auto state = std::make_unique<halyard::RunState>();
        QuietUi ui;
        halyard::Jobs jobs(*state, ui);
        halyard::InstallReadXplJob(jobs, *state, ui);
        ui.eEVOfile = source;
        ui.eXPLfile = path;
        jobs.XPLadj();
        const auto start = std::chrono::steady_clock::now();
        jobs.bReadXPLClick();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        memoLines = ui.mXPL.size();
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int titles = std::max(1, lines / kLinesPerTitle);
    const auto path = std::filesystem::temp_directory_path() / "halyard-bench-VPLST000.XPL";
    const std::string text = playlist(titles);
    std::ofstream(path, std::ios::binary) << text;

    size_t memo = 0;
    const std::string middle = "/d/HVDVD_TS/CLIP" + std::to_string(titles / 2) + "_1.EVO";
    const double withTitle = bestSeconds(path.string(), middle, memo);
    std::printf("playlist: %zu bytes, %d titles\n", text.size(), titles);
    std::printf("title:    %.4f s (memo %zu lines)\n", withTitle, memo);
    const double noTitle = bestSeconds(path.string(), "", memo);
    std::printf("no title: %.4f s (memo %zu lines)\n", noTitle, memo);
    std::filesystem::remove(path);
    return 0;
}
