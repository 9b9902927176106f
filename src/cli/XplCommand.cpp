// halyard-cli xpl: the Read XPL job, printing its log, or the memo, the tree or the
// stream boxes it leaves.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "handoff/Chapters.h"
#include "cli/Command.h"
#include "handoff/JsonReport.h"
#include "cli/Session.h"
#include "jobs/StreamNames.h"
#include "model/Error.h"
#include "playlist/ReadXpl.h"

namespace halyard::cli {

namespace {

struct XplOptions {
    std::string source;
    std::string playlist;
    std::string show = "log";
    bool markup = false;
    bool json = false;
    std::string chapters;
};

void printTree(CliUi& ui, const std::vector<TreeNode>& nodes, const std::string& indent) {
    for (const TreeNode& node : nodes) {
        ui.print(indent + node.text + "\n");
        printTree(ui, node.children, indent + "  ");
    }
}

// The enabled stream boxes: name, tab, caption.
void printBoxes(CliUi& ui) {
    auto line = [&ui](const StreamBox& box, const std::string& name) {
        if (box.enabled)
            ui.print(name + "\t" + box.caption + "\n");
    };
    for (size_t slot = 0; slot < ui.cbVideo.size(); ++slot)
        line(ui.cbVideo[slot], VideoBoxName(int(slot)));
    for (size_t slot = 0; slot < ui.cbAudio.size(); ++slot)
        line(ui.cbAudio[slot], AudioBoxName(int(slot)));
    for (size_t slot = 0; slot < ui.cbSub.size(); ++slot)
        line(ui.cbSub[slot], SubpictureBoxName(int(slot)));
}

// The source path without a stream scan, then the playlist: the one given, else the
// one that the disc layout puts beside the source.
void choosePaths(const XplOptions& options, Session& session) {
    if (options.playlist.empty() && options.source.empty())
        throw UsageError("xpl: give a PLAYLIST, or a --source to find the playlist beside");
    session.ui.eEVOfile = options.source;
    session.jobs.EVOadj();
    if (!options.playlist.empty())
        session.ui.eXPLfile = options.playlist;
    session.jobs.XPLadj();
}

// The title whose chapters --chapters writes: the one that plays the source, or the
// only title of the playlist.
const PlaylistTitle& chosenTitle(const PlaylistTitles& playlist, const Session& session) {
    if (playlist.sourceTitle)
        return playlist.titles[*playlist.sourceTitle];
    if (playlist.titles.size() == 1)
        return playlist.titles.front();
    if (session.ui.eEVOfile.empty())
        throw UsageError("xpl --chapters: the playlist has " + std::to_string(playlist.titles.size()) +
                         " titles; give the source of one with --source");
    throw Error("No title of \"" + session.ui.eXPLfile + "\" plays \"" + session.ui.eEVOfile + "\"");
}

// An empty chapter file would say that the title has no chapters when the fault may
// lie in the choice of title: it is never written.
void writeChapters(const XplOptions& options, const PlaylistTitles& playlist, const Session& session) {
    const PlaylistTitle& title = chosenTitle(playlist, session);
    const std::vector<Chapter> chapters = TitleChapters(playlist, title);
    if (chapters.empty())
        throw Error("The title \"" + XmlText(title.name.empty() ? title.id : title.name) + "\" of \"" +
                    session.ui.eXPLfile + "\" has no chapters");
    WriteTextFile(options.chapters, SimpleChapterFile(chapters), session.jobs.inputFiles());
}

} // namespace

Command AddXplCommand(CLI::App& app) {
    auto options = std::make_shared<XplOptions>();
    CLI::App* command = app.add_subcommand(
        "xpl", "Reads an HD DVD playlist (VPLST000.XPL) and shows the title that plays the source.");
    command->add_option("--source", options->source,
                        "the source whose title is shown (it is not read and need not exist); without PLAYLIST, "
                        "the playlist is ../ADV_OBJ/VPLST000.XPL beside its HVDVD_TS folder")
        ->type_name("FILE");
    command->add_option("--show", options->show, "what to print: the log (default), the memo, the tree or the boxes")
        ->check(CLI::IsMember({"log", "memo", "tree", "boxes"}).description(""))
        ->type_name("log|memo|tree|boxes");
    command->add_flag("--markup", options->markup, "print log lines with their markup tags");
    command
        ->add_flag("--json", options->json,
                   "print the playlist's titles, tracks, chapters and time base as one JSON document (format_version "
                   "1) instead of the log")
        ->excludes(command->get_option("--show"));
    command
        ->add_option("--chapters", options->chapters,
                     "write the chapters of the source's title (or of the only title) to FILE, as lines "
                     "CHAPTER01=HH:MM:SS.mmm and CHAPTER01NAME=name")
        ->type_name("FILE");
    command->add_option("PLAYLIST", options->playlist, "the playlist")->type_name("");

    return {command, "xpl [--source FILE] [--show log|memo|tree|boxes] [--markup] [--json] [--chapters FILE] [PLAYLIST]",
            [options] {
                Session session(options->markup);
                InstallReadXplJob(session.jobs, *session.state, session.ui);
                session.ui.cbAutoRead = false;
                session.ui.quiet = options->show != "log" || options->json;
                return session.run([&] {
                    choosePaths(*options, session);
                    // The document comes from the titles alone: the job's memo and
                    // tree, a second copy of the playlist, are not needed for it.
                    if (!options->json)
                        session.jobs.bReadXPLClick();
                    if (CliUi::interrupted())
                        return;
                    if (options->json || !options->chapters.empty()) {
                        const PlaylistTitles playlist = ReadPlaylistTitles(session.ui.eXPLfile, session.ui.eEVOfile);
                        if (CliUi::interrupted())
                            return;
                        if (!options->chapters.empty())
                            writeChapters(*options, playlist, session);
                        if (options->json)
                            WritePlaylistJson(playlist, session.ui.eXPLfile, session.ui.eEVOfile,
                                              [&](const std::string& text) { session.ui.print(text); });
                    }
                    if (options->show == "memo")
                        for (const std::string& line : session.ui.mXPL)
                            session.ui.print(line + "\n");
                    else if (options->show == "tree")
                        printTree(session.ui, session.ui.tvXPL, "");
                    else if (options->show == "boxes")
                        printBoxes(session.ui);
                });
            }};
}

} // namespace halyard::cli
