// halyard-demo: writes a small HD DVD-like disc for trying the tool out.
//
//   halyard-demo [OUT]      (default OUT: "demo")
//
// Output:
//   OUT/HVDVD_TS/FEATURE_1.EVO   the first 5.2 s of the feature
//   OUT/HVDVD_TS/FEATURE_2.EVO   the next 5.36 s, time stamps running on
//   OUT/ADV_OBJ/VPLST000.XPL     a playlist: a logo, the feature over both files, a trailer
//
// The pictures and sounds are coded by ffmpeg (it must be on PATH); the
// VC-1 stream is built by hand (valid sequence and entry point headers,
// frames that do not decode). Stream layout; slots as the reader forms them
// (video: id AND 1, or extension - 0x55; audio: substream id AND 7, AND 15
// for E-AC-3; subpicture: AND 0x1F):
//
//   stream                         FEATURE_1         FEATURE_2         slot
//   MPEG-2 720x480 25 fps          0xE0              0xE0              video 0
//   H.264 1280x720 25 fps, AUDs    0xE3              -                 video 1
//   VC-1 1920x1080 25 fps          -                 0xFD ext 0x56     video 1
//   AC-3 5.1 448 kbit/s            0xBD/0x80         0xBD/0x80         audio 0
//   E-AC-3 2.0 192 kbit/s          0xBD/0xC1         0xBD/0xC1         audio 1
//   DTS 2.0 768 kbit/s             0xBD/0x8A         0xBD/0x8A         audio 2
//   TrueHD 2.0 48 kHz              0xBD/0xB3         0xBD/0xB3         audio 3
//   LPCM 2.0 48 kHz 16 bit         0xBD/0xA4         0xBD/0xA4         audio 4
//   subpicture, 2-bit RLE          0xBD/0x20         0xBD/0x20         subpicture 0
//
// Video slot 1 changes codec between the files: three video codecs share
// the two video slots, and the main feature (slot 0), every audio stream
// and the subpicture stream continue unchanged from file 1 into file 2.
// Without libx264, FEATURE_1 carries the VC-1 stream in slot 1 as well.
//
// The files split at the MPEG-2 GOP (closed, 12 pictures; ffmpeg makes the
// first one 10) nearest the middle. Each file starts with a navigation pack;
// one opens every GOP (a VOBU of 0.48 s). Navigation packs have the HD DVD layout, the
// DSI packet at byte 1287. The DSI holds the VOB number (1, 2), the start and end
// presentation time of the file's MPEG-2 pictures, and the sync entry of each audio
// and subpicture stream at its stream number: the packs from the navigation pack to
// the stream's first pack in the VOBU. The output is the same
// on every run for a given ffmpeg build.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "EsFrames.h"
#include "PsBuilder.h"
#include "PsMuxer.h"
#include "SubpictureBuilder.h"
#include "ToolRunner.h"
#include "Vc1Builder.h"

namespace fs = std::filesystem;
using namespace psb;

namespace {

constexpr uint64_t kFirstPts = kClock;        // the feature starts at 1 s
constexpr uint64_t kFrameTicks = kClock / 25;  // 25 frames per second
constexpr int kGopSize = 12;
constexpr int kTotalFrames = 22 * kGopSize;  // 10.56 s
constexpr double kAudioSeconds = kTotalFrames / 25.0 + 0.2;
constexpr uint32_t kSampleRate = 48000;

constexpr uint8_t kMpeg2Id = 0xE0;
constexpr uint8_t kH264Id = 0xE3;
constexpr uint8_t kAc3Id = 0x80;
constexpr uint8_t kEac3Id = 0xC1;
constexpr uint8_t kDtsId = 0x8A;
constexpr uint8_t kTrueHdId = 0xB3;
constexpr uint8_t kLpcmId = 0xA4;
constexpr uint8_t kSubpictureId = 0x20;

struct Sources {
    std::vector<AccessUnit> mpeg2, h264, vc1, ac3, eac3, dts, truehd, lpcm, subpictures;
    bool haveH264 = false;
    std::size_t splitFrame = 0;  // first picture (decode order) of FEATURE_2: a GOP start
};

void ffmpeg(const std::string& arguments, const std::string& output) {
    const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y " + arguments +
                                " -fflags +bitexact -flags +bitexact -threads 1 " + tools::shellQuote(output);
    if (tools::run(command) != 0) throw std::runtime_error("ffmpeg failed: " + command);
}

// A stereo (or 5.1) test tone: one sine per channel.
std::string tone(std::initializer_list<int> frequencies) {
    std::string expr;
    for (int f : frequencies) {
        if (!expr.empty()) expr += '|';
        expr += "0.25*sin(2*PI*" + std::to_string(f) + "*t)";
    }
    std::string layout = frequencies.size() == 6 ? ":c=5.1" : "";
    return "-f lavfi -i " + tools::shellQuote("aevalsrc=" + expr + ":s=48000:d=" + std::to_string(kAudioSeconds) + layout);
}

// A VC-1 stream of `frames` frames: an I frame with sequence header and entry
// point every 12 frames from the start and again from `restart`.
Bytes buildVc1(std::size_t frames, std::size_t restart) {
    Vc1SequenceHeader sequence;
    sequence.frameRateNr = 2;  // 25000
    sequence.frameRateDr = 1;  // / 1000
    sequence.aspectRatio = 1;
    Bytes es;
    for (std::size_t k = 0; k < frames; ++k) {
        const bool intra = (k < restart ? k : k - restart) % kGopSize == 0;
        if (intra) {
            const Bytes header = sequence.build();
            const Bytes entry = vc1EntryPoint(1920, 1080);
            es.insert(es.end(), header.begin(), header.end());
            es.insert(es.end(), entry.begin(), entry.end());
        }
        const Bytes frame = vc1Frame(intra ? 24000 : 5000 + (k * 733) % 4000, intra, static_cast<uint8_t>(k));
        es.insert(es.end(), frame.begin(), frame.end());
    }
    return es;
}

std::vector<AccessUnit> buildSubpictures() {
    std::vector<AccessUnit> units;
    int k = 0;
    for (uint64_t t = kFirstPts + kClock / 2; t < kFirstPts + kTotalFrames * kFrameTicks; t += 3 * kClock / 2, ++k) {
        const int width = 240 + 40 * (k % 4);
        AccessUnit u;
        u.data = SubpictureUnit()
                     .bitmap(Bitmap::testPattern(width, 36))
                     .position((720 - width) / 2, 400)
                     .colors(3, 2, 1, 0)
                     .contrast(15, 15, 15, 0)
                     .duration(kClock)
                     .build();
        u.pts = t;
        u.duration = kClock;
        units.push_back(std::move(u));
    }
    return units;
}

Sources encodeSources(const tools::TempDir& tmp) {
    Sources s;
    const std::string frames = " -frames:v " + std::to_string(kTotalFrames);
    ffmpeg("-f lavfi -i testsrc=size=720x480:rate=25" + frames +
               " -c:v mpeg2video -b:v 2000k -maxrate 6000k -bufsize 1835k -g " + std::to_string(kGopSize) +
               " -bf 2 -flags +cgop"
               " -sc_threshold 1000000000 -f mpeg2video",
           tmp.file("video.m2v"));
    s.mpeg2 = es::splitMpeg2Video(readFile(tmp.file("video.m2v")), kFirstPts, kFrameTicks);
    if (s.mpeg2.size() != kTotalFrames) throw std::runtime_error("unexpected MPEG-2 picture count");
    // FEATURE_2 starts at the GOP start nearest the middle.
    auto distance = [](std::size_t k) { return k > kTotalFrames / 2 ? k - kTotalFrames / 2 : kTotalFrames / 2 - k; };
    for (std::size_t k = 0; k < s.mpeg2.size(); ++k)
        if (s.mpeg2[k].keyframe && distance(k) < distance(s.splitFrame)) s.splitFrame = k;

    s.haveH264 = tools::run("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx264") == 0;
    if (s.haveH264) {
        ffmpeg("-f lavfi -i testsrc2=size=1280x720:rate=25" + frames +
                   " -pix_fmt yuv420p -c:v libx264 -preset veryfast -b:v 1200k"
                   " -x264-params aud=1:keyint=12:min-keyint=12:scenecut=0:bframes=0:repeat-headers=1:threads=1"
                   // access unit delimiters, an IDR with SPS/PPS every GOP, no B-frames (PTS = DTS)
                   " -f h264",
               tmp.file("video.h264"));
        s.h264 = es::splitH264(readFile(tmp.file("video.h264")), kFirstPts, kFrameTicks);
    } else {
        std::fprintf(stderr, "halyard-demo: libx264 not available; VC-1 takes video slot 1 in both files\n");
    }
    s.vc1 = es::splitVc1(buildVc1(kTotalFrames, s.splitFrame), kFirstPts, kFrameTicks);

    ffmpeg(tone({220, 330, 440, 55, 550, 660}) + " -c:a ac3 -b:a 448k -f ac3", tmp.file("audio.ac3"));
    ffmpeg(tone({330, 495}) + " -c:a eac3 -b:a 192k -f eac3", tmp.file("audio.eac3"));
    ffmpeg(tone({440, 660}) + " -c:a dca -strict -2 -b:a 768k -f dts", tmp.file("audio.dts"));
    ffmpeg(tone({550, 825}) + " -c:a truehd -strict -2 -f truehd", tmp.file("audio.thd"));
    ffmpeg(tone({660, 990}) + " -f s16be", tmp.file("audio.pcm"));
    s.ac3 = es::splitAc3(readFile(tmp.file("audio.ac3")), kFirstPts);
    s.eac3 = es::splitAc3(readFile(tmp.file("audio.eac3")), kFirstPts);
    s.dts = es::splitDts(readFile(tmp.file("audio.dts")), kFirstPts);
    s.truehd = es::splitTrueHd(readFile(tmp.file("audio.thd")), kFirstPts);
    s.lpcm = es::splitLpcm(readFile(tmp.file("audio.pcm")), 2, kSampleRate, kFirstPts);
    s.subpictures = buildSubpictures();
    return s;
}

// The units whose PTS lies in [from, to).
std::vector<AccessUnit> during(const std::vector<AccessUnit>& units, uint64_t from, uint64_t to) {
    std::vector<AccessUnit> out;
    for (const auto& u : units)
        if (u.pts && *u.pts >= from && *u.pts < to) out.push_back(u);
    return out;
}

struct FeatureFile {
    std::string name;
    uint16_t vobNumber;
    std::vector<ElementaryStream> streams;
    uint32_t startPtm;
    uint32_t endPtm;
};

FeatureFile feature(const Sources& s, int part) {
    // Presentation times: MPEG-2 pictures in display order, the split at a closed GOP.
    const uint64_t splitPts = kFirstPts + s.splitFrame * kFrameTicks;
    const uint64_t from = part == 0 ? kFirstPts : splitPts;
    const uint64_t to = part == 0 ? splitPts : kFirstPts + kTotalFrames * kFrameTicks;
    FeatureFile f;
    f.name = "FEATURE_" + std::to_string(part + 1) + ".EVO";
    f.vobNumber = static_cast<uint16_t>(part + 1);
    f.startPtm = static_cast<uint32_t>(from);
    f.endPtm = static_cast<uint32_t>(to);

    f.streams.push_back(ElementaryStream::video(kMpeg2Id, during(s.mpeg2, from, to)));
    if (part == 0 && s.haveH264)
        f.streams.push_back(ElementaryStream::video(kH264Id, during(s.h264, from, to)));
    else
        f.streams.push_back(ElementaryStream::vc1(sidext::kVc1Secondary, during(s.vc1, from, to)));
    f.streams.push_back(ElementaryStream::audio(kAc3Id, during(s.ac3, from, to)));
    f.streams.push_back(ElementaryStream::audio(kEac3Id, during(s.eac3, from, to)));
    f.streams.push_back(ElementaryStream::audio(kDtsId, during(s.dts, from, to)));
    f.streams.push_back(ElementaryStream::audio(kTrueHdId, during(s.truehd, from, to)));
    ElementaryStream lpcm = ElementaryStream::audio(kLpcmId, during(s.lpcm, from, to));
    lpcm.lpcmHeader = es::lpcmHeader16(kSampleRate, 2);
    lpcm.granule = 4;  // whole stereo sample pairs in every packet
    f.streams.push_back(std::move(lpcm));
    f.streams.push_back(ElementaryStream::subpicture(kSubpictureId, during(s.subpictures, from, to)));
    return f;
}

void writeFeature(const FeatureFile& f, const fs::path& folder) {
    MuxOptions options;
    options.navLayout = NavLayout::HdDvd;
    options.syncEntryPerStreamNumber = true;
    options.muxRate = kHdDvdMuxRate;
    options.vobuSeconds = 0.4;
    options.vobNumber = f.vobNumber;
    options.startPtm = f.startPtm;
    options.endPtm = f.endPtm;
    const Bytes evo = muxProgramStream(f.streams, options);
    writeFile((folder / f.name).string(), evo);
    std::printf("%s: %zu bytes, %zu packs\n", (folder / f.name).string().c_str(), evo.size(), evo.size() / kPackSize);
}

// Title duration and clip times of a number of 25 fps video frames, in HH:MM:SS:FF,
// FF counting frames of the title set's time base, 50 fps: two per video frame.
std::string timecode(uint64_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu:%02llu", static_cast<unsigned long long>(frames / 90000),
                  static_cast<unsigned long long>(frames / 1500 % 60), static_cast<unsigned long long>(frames / 25 % 60),
                  static_cast<unsigned long long>(frames % 25 * 2));
    return text;
}

// The disc's playlist: an XML declaration, the playlist namespace, comments, the
// attribute list of every stream, and three titles (a logo, the feature over both
// feature files, a trailer), written with CRLF line ends as disc authoring tools do.
// The feature's tracks name the streams of the files: video track 1 is slot 0, track
// 2 slot 1; audio and subtitle stream number n is slot n - 1.
std::string playlist(bool haveH264, std::size_t splitFrame) {
    const std::string end1 = timecode(splitFrame);
    const std::string end2 = timecode(kTotalFrames);
    const std::string secondVideo1 = haveH264 ? "2" : "3";
    const std::string feature1 = "file:///dvddisc/HVDVD_TS/FEATURE_1.MAP";
    const std::string feature2 = "file:///dvddisc/HVDVD_TS/FEATURE_2.MAP";
    const std::vector<std::string> featureAudio = {
        "        <Audio track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" description=\"en\" langcode=\"en:00\"/>",
        "        <Audio track=\"2\" streamNumber=\"2\" mediaAttr=\"2\" description=\"de\" langcode=\"de:00\"/>",
        "        <Audio track=\"3\" streamNumber=\"3\" mediaAttr=\"3\" description=\"fr\" langcode=\"fr:00\"/>",
        "        <Audio track=\"4\" streamNumber=\"4\" mediaAttr=\"4\" description=\"en\" langcode=\"en:00\"/>",
        "        <Audio track=\"5\" streamNumber=\"5\" mediaAttr=\"5\" description=\"ja\" langcode=\"ja:00\"/>",
        "        <Subtitle track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" description=\"en\" langcode=\"en:00\"/>",
    };
    std::vector<std::string> x = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
        "<!-- Halyard demo disc: playlist of the advanced content -->",
        "<Playlist xmlns=\"http://www.dvdforum.org/2005/HDDVDVideo/Playlist\"",
        "          xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"",
        "          majorVersion=\"1\" minorVersion=\"0\" displayName=\"Halyard Demo Disc\">",
        "  <Configuration>",
        "    <StreamingBuffer size=\"0\"/>",
        "    <Aperture width=\"1920\" height=\"1080\"/>",
        "    <MainVideoDefaultColor color=\"108080\"/>",
        "  </Configuration>",
        "  <!-- Codecs of the streams, referred to by the tracks' mediaAttr -->",
        "  <MediaAttributeList>",
        "    <VideoAttributeItem index=\"1\" codec=\"MPEG-2\" sampleAspectRatio=\"16:9\" horizontalResolution=\"720\" "
        "verticalResolution=\"480\" frameRate=\"25\"/>",
        "    <VideoAttributeItem index=\"2\" codec=\"AVC\" sampleAspectRatio=\"16:9\" horizontalResolution=\"1280\" "
        "verticalResolution=\"720\" frameRate=\"25\"/>",
        "    <VideoAttributeItem index=\"3\" codec=\"VC-1\" sampleAspectRatio=\"16:9\" horizontalResolution=\"1920\" "
        "verticalResolution=\"1080\" frameRate=\"25\"/>",
        "    <AudioAttributeItem index=\"1\" codec=\"DD\" channels=\"6\" sampleFrequency=\"48\"/>",
        "    <AudioAttributeItem index=\"2\" codec=\"DD+\" channels=\"2\" sampleFrequency=\"48\"/>",
        "    <AudioAttributeItem index=\"3\" codec=\"DTS\" channels=\"2\" sampleFrequency=\"48\"/>",
        "    <AudioAttributeItem index=\"4\" codec=\"MLP\" channels=\"2\" sampleFrequency=\"48\"/>",
        "    <AudioAttributeItem index=\"5\" codec=\"LPCM\" channels=\"2\" sampleFrequency=\"48\" bitDepth=\"16\"/>",
        "    <SubpictureAttributeItem index=\"1\" codec=\"2bitRLE\"/>",
        "  </MediaAttributeList>",
        "  <TitleSet timeBase=\"50fps\" tickBase=\"25fps\" defaultLanguage=\"en\">",
        "    <!-- First play: the studio logo -->",
        "    <Title id=\"Logo\" titleNumber=\"1\" displayName=\"Studio Logo\" titleDuration=\"00:00:04:00\" "
        "onEnd=\"Feature\">",
        "      <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/LOGO.MAP\" titleTimeBegin=\"00:00:00:00\" "
        "titleTimeEnd=\"00:00:04:00\" dataSource=\"Disc\">",
        "        <Video track=\"1\" mediaAttr=\"3\"/>",
        "        <Audio track=\"1\" streamNumber=\"1\" mediaAttr=\"2\" description=\"logo\" langcode=\"en:00\"/>",
        "      </PrimaryAudioVideoClip>",
        "    </Title>",
        "    <!-- The feature, over both feature files -->",
        "    <Title",
        "      id=\"Feature\" titleNumber=\"2\" displayName=\"Demo Feature\"",
        "      titleDuration=\"" + end2 + "\">",
        "      <PrimaryAudioVideoClip src=\"" + feature1 + "\" titleTimeBegin=\"00:00:00:00\" titleTimeEnd=\"" + end1 +
            "\" dataSource=\"Disc\">",
        "        <Video track=\"1\" mediaAttr=\"1\"/>",
        "        <Video track=\"2\" mediaAttr=\"" + secondVideo1 + "\"/>",
    };
    x.insert(x.end(), featureAudio.begin(), featureAudio.end());
    const std::vector<std::string> middle = {
        "      </PrimaryAudioVideoClip>",
        "      <PrimaryAudioVideoClip src=\"" + feature2 + "\" titleTimeBegin=\"" + end1 + "\" titleTimeEnd=\"" + end2 +
            "\" dataSource=\"Disc\">",
        "        <Video track=\"1\" mediaAttr=\"1\"/>",
        "        <Video track=\"2\" mediaAttr=\"3\"/>",
    };
    x.insert(x.end(), middle.begin(), middle.end());
    x.insert(x.end(), featureAudio.begin(), featureAudio.end());
    const std::vector<std::string> tail = {
        "      </PrimaryAudioVideoClip>",
        "      <ChapterList>",
        "        <Chapter displayName=\"Opening\" titleTimeBegin=\"00:00:00:00\"/>",
        "        <Chapter displayName=\"Second part\" titleTimeBegin=\"" + end1 + "\"/>",
        "      </ChapterList>",
        "    </Title>",
        "    <!-- Extras -->",
        "    <Title id=\"Trailer\" titleNumber=\"3\" displayName=\"Trailer\" titleDuration=\"00:01:30:00\">",
        "      <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/TRAILER.MAP\" titleTimeBegin=\"00:00:00:00\" "
        "titleTimeEnd=\"00:01:30:00\" dataSource=\"Disc\">",
        "        <Video track=\"1\" mediaAttr=\"3\"/>",
        "        <Audio track=\"1\" streamNumber=\"1\" mediaAttr=\"2\" description=\"en\" langcode=\"en:00\"/>",
        "      </PrimaryAudioVideoClip>",
        "      <ChapterList>",
        "        <Chapter displayName=\"Trailer\" titleTimeBegin=\"00:00:00:00\"/>",
        "      </ChapterList>",
        "    </Title>",
        "  </TitleSet>",
        "</Playlist>",
    };
    x.insert(x.end(), tail.begin(), tail.end());
    std::string text;
    for (const std::string& line : x) text += line + "\r\n";
    return text;
}

void writeText(const fs::path& path, const std::string& text) {
    writeFile(path.string(), Bytes(text.begin(), text.end()));
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const fs::path out = argc > 1 ? argv[1] : "demo";
        if (!tools::haveProgram("ffmpeg")) {
            std::fprintf(stderr, "halyard-demo: ffmpeg is needed to code the demo streams\n");
            return 1;
        }
        fs::create_directories(out / "HVDVD_TS");
        fs::create_directories(out / "ADV_OBJ");
        tools::TempDir tmp("halyard-demo");
        const Sources sources = encodeSources(tmp);
        for (int part = 0; part < 2; ++part) writeFeature(feature(sources, part), out / "HVDVD_TS");
        writeText(out / "ADV_OBJ" / "VPLST000.XPL", playlist(sources.haveH264, sources.splitFrame));
        std::printf("%s: playlist\n", (out / "ADV_OBJ" / "VPLST000.XPL").string().c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halyard-demo: %s\n", e.what());
        return 1;
    }
}
