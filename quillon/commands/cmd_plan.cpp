// quillon plan: what the updater would do on a machine, entry by entry,
// decided by the same code as the real transfer, with nothing written.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "detect/detection.h"
#include "detect/product_version.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "quillon/base/cli.h"
#include "quillon/commands/commands.h"
#include "quillon/machine/held_files.h"
#include "quillon/report/json_reports.h"
#include "quillon/machine/machine.h"
#include "quillon/base/shown_text.h"
#include "quillon/read/updater_file.h"
#include "string_ids.h"
#include "transfer/journal.h"
#include "transfer/startup.h"
#include "transfer/transfer.h"

namespace quillon {
namespace {

const char kPlanHelp[] =
    "usage: quillon plan --updater FILE --windows-dir DIR --system-dir DIR\n"
    "                    [--drive LETTER=DIR]... [--language ID]\n"
    "\n"
    "Runs the updater's detection against a directory tree that stands for a\n"
    "machine, then the transfer's decisions for every entry of the package of\n"
    "FILE without writing anything, and prints what the update would do: which\n"
    "file it writes where, or why it passes an entry by (ignored, runtime\n"
    "library not found, installed copy newer, update-only with nothing\n"
    "installed, carried file not installed), whether the entry is a step of\n"
    "the progress bar and whether stamped blocks are carried into it, the\n"
    "percentage the progress bar would end on, the stages the update runs\n"
    "(plan, stage, commit, finish), the space the new copies need on each\n"
    "volume, which installed files running programs hold now (where the system\n"
    "can tell, as Windows does: the update would ask to close them), and the\n"
    "verdict of the detection page. When an earlier update\n"
    "left its journal in the Windows directory, it lists every change that\n"
    "settling it at the updater's start would make and every file it would\n"
    "leave alone, or says that the updater refuses it. With --json, the\n"
    "same as one JSON object (docs/json-output.md).\n"
    "\n";

// What the updater shows for a result of its transfer: the closing message,
// if any, and the page that follows.
std::string WhatTheUpdaterShows(zv::TransferResult result, const char* errorFile) {
    if (zv::Succeeded(result)) return "the success page";
    std::string shown;
    if (result.outcome == zv::TransferOutcome::Failed) {
        char format[300] = {}, text[600] = {};
        zv::LoadText(result.messageId, format, sizeof format);
        zv::FormatText(text, sizeof text, format, errorFile);
        shown = "the message \"" + Shown(text) + "\", then ";
    }
    return shown + "the page that says the update is incomplete";
}

class PlanPrinter : public zv::TransferObserver {
public:
    PlanPrinter(zv::Platform& os, JsonWriter* json) : os_(os), json_(json) {}
    HeldFiles held;  // the installed files the update replaces, and who holds them now
    uint32_t lastPercent = 0;
    uint32_t writes = 0;
    uint32_t replaced = 0;  // writes over an installed copy, which the commit keeps as a backup until the end
    std::string failedName;
    std::vector<zv::VolumeNeed> volumes;

    void EntryDone(const zv::EntryReport& r) override {
        const zv::EntryDecision& d = r.decision;
        lastPercent = r.percent;
        if (d.outcome == zv::EntryOutcome::OtherPass) return;
        if (d.outcome == zv::EntryOutcome::Ignored && d.pass == 2) return;  // told in pass 1
        std::string holders;
        bool isHeld = false;
        if (d.outcome == zv::EntryOutcome::Write || d.outcome == zv::EntryOutcome::InUse) {
            ++writes;
            if (d.installed) {
                ++replaced;
                isHeld = AddHeldFile(os_, d.target, &held, &holders);
            }
        }
        if (d.outcome == zv::EntryOutcome::Failed) failedName = d.name;
        if (json_ != nullptr) {
            json_->BeginObject();
            json_->Key("index").Number(d.index + 1);
            json_->Key("pass").Number(d.pass);
            json_->Key("name").String(d.name);
            json_->Key("decision").String(zv::EntryOutcomeName(d.outcome));
            json_->Key("target").String(d.target);
            json_->Key("step").Bool(d.step);
            json_->Key("carried").Bool(d.carried);
            json_->Key("percent").Number(r.percent);
            if (d.nameProblem != zv::MemberNameProblem::None) {
                json_->Key("nameProblem").String(zv::MemberNameProblemName(d.nameProblem));
            }
            if (isHeld) json_->Key("heldBy").String(holders);
            json_->EndObject();
            return;
        }
        std::printf("  %3u  %u  %-24s %-42s %-4s %-7s %s\n", d.index + 1, d.pass, Shown(d.name).c_str(),
                    zv::EntryOutcomeName(d.outcome), d.step ? "yes" : "no", d.carried ? "yes" : "no",
                    Shown(d.target).c_str());
        if (d.nameProblem != zv::MemberNameProblem::None) {
            std::printf("            the updater stops here: %s\n", zv::MemberNameProblemName(d.nameProblem));
        }
    }
    void VolumeChecked(const zv::VolumeNeed& volume) override { volumes.push_back(volume); }

    // The stages the updater would run, and the room each volume needs.
    void PrintStages(const std::string& journalPath) const {
        std::printf("\nthe updater would run these stages:\n");
        std::printf("  1. plan:   the decisions above, before anything is written\n");
        std::printf("  2. stage:  expand %u new cop%s beside %s target%s, checked as they are written;\n"
                    "             the installed files stay as they are\n",
                    writes, writes == 1 ? "y" : "ies", writes == 1 ? "its" : "their", writes == 1 ? "" : "s");
        std::printf("  3. commit: the journal %s, with the size and SHA-256 of every new copy and\n"
                    "             installed copy, then %u installed cop%s renamed to backups and\n"
                    "             the new copies moved into place\n",
                    Shown(journalPath).c_str(), replaced, replaced == 1 ? "y" : "ies");
        std::printf("  4. finish: the backups and the journal removed\n");
        std::printf("  a Cancel, a failure or a stop before the commit ends puts everything back as it was\n");
        std::printf("\nspace the new copies need:\n");
        if (volumes.empty()) std::printf("  none\n");
        for (const zv::VolumeNeed& v : volumes) {
            std::printf("  %-24s %12llu bytes", v.root[0] != '\0' ? Shown(v.root).c_str() : "(unknown volume)",
                        static_cast<unsigned long long>(v.needed));
            if (v.free != UINT64_MAX) {
                std::printf(", %llu free%s", static_cast<unsigned long long>(v.free),
                            v.free < v.needed ? ": NOT ENOUGH, the updater would ask for more" : "");
            }
            std::printf("\n");
        }
    }

    void WriteVolumes(JsonWriter& json) const {
        json.Key("volumes").BeginArray();
        for (const zv::VolumeNeed& v : volumes) {
            json.BeginObject();
            json.Key("root").String(v.root);
            json.Key("needed").Number(v.needed);
            if (v.free != UINT64_MAX) json.Key("free").Number(v.free);
            json.EndObject();
        }
        json.EndArray();
    }

private:
    zv::Platform& os_;
    JsonWriter* json_;
};

// What settling one entry of a journal would do, one line for each change
// or refusal, as the updater decides it from the files as they are now.
std::vector<std::string> SettlementLines(uint32_t actions, const zv::JournalEntry& entry) {
    char staged[zv::kMaxPath], backup[zv::kMaxPath];
    zv::ComposeTransactionPaths(entry.target, entry.index, staged, backup);
    const std::string target = Shown(entry.target), newCopy = Shown(staged), old = Shown(backup);
    std::vector<std::string> lines;
    if (actions & zv::SETTLE_UNREADABLE) {
        lines.push_back("a file of this entry cannot be read now: the journal stays for a later start");
        return lines;
    }
    if (actions & zv::SETTLE_NEW_BACK) lines.push_back("move the new copy " + target + " back to " + newCopy);
    if (actions & zv::SETTLE_RESTORE) lines.push_back("move the backup " + old + " back onto " + target);
    if (actions & zv::SETTLE_REMOVE_STAGED) lines.push_back("remove the new copy " + newCopy);
    if (actions & zv::SETTLE_REMOVE_BACKUP) lines.push_back("remove the backup " + old);
    if (actions & zv::SETTLE_LOST) lines.push_back("the backup of " + target + " is gone: its new copy stays");
    if (actions & zv::SETTLE_TARGET_NOT_OURS) {
        lines.push_back("leave " + target + " alone: it is not the update's new copy");
    }
    if (actions & zv::SETTLE_STAGED_NOT_OURS) {
        lines.push_back("leave " + newCopy + " alone: it is not the update's new copy");
    }
    if (actions & zv::SETTLE_BACKUP_NOT_OURS) {
        lines.push_back("leave " + old + " alone: it is not the installed copy the update moved aside");
    }
    return lines;
}

// What the updater's next start would find of an earlier update: its
// journal in the Windows directory, read and judged as the updater does, and
// every change settling it would make.
struct EarlierUpdate {
    bool present = false;    // there is a journal
    bool refused = false;    // refused as damaged: nothing would be touched
    bool completed = false;  // a committed update, whose journal stays only while a file it replaced is in use
    std::string path;        // the journal's path
    std::string state;       // "committing, 3 files", or why it is refused
    std::string refusal;     // the message the updater shows for a refused journal
    std::vector<std::pair<std::string, std::vector<std::string>>> changes;  // per target
};

EarlierUpdate FindEarlierUpdate(zv::Platform& os, const char* installDir) {
    EarlierUpdate earlier;
    char path[zv::kMaxPath] = {};
    zv::JournalFilePath(os, zv::JOURNAL_NAME, path);
    earlier.path = path;
    zv::Journal journal;
    zv::JournalResult read = zv::ReadJournal(os, &journal);
    if (read == zv::JournalResult::Missing) return earlier;
    earlier.present = true;
    if (read == zv::JournalResult::Ok && !zv::IsJournalOf(journal, installDir)) {
        earlier.state = std::string("the journal is damaged: it names another product directory, ") +
                        Shown(journal.productDir);
        read = zv::JournalResult::Damaged;
    } else if (read != zv::JournalResult::Ok) {
        earlier.state = zv::JournalResultName(read);
    }
    if (read == zv::JournalResult::Damaged || read == zv::JournalResult::Unreadable) {
        earlier.refused = true;
        char format[300] = {}, text[600] = {};
        zv::LoadText(zv::IDS_JOURNAL_REFUSED, format, sizeof format);
        zv::FormatText(text, sizeof text, format, path);
        earlier.refusal = text;
    }
    if (read == zv::JournalResult::Ok) {
        earlier.state = std::string(zv::JournalStateName(journal.state)) + ", " + std::to_string(journal.count) +
                        (journal.count == 1 ? " file" : " files");
        earlier.completed = journal.state == zv::JournalState::Committed;
        for (uint32_t i = 0; i < journal.count; ++i) {
            const zv::JournalEntry& entry = journal.entries[i];
            const uint32_t actions = zv::DecideSettlement(os, journal, entry, nullptr);
            earlier.changes.push_back({entry.target, SettlementLines(actions, entry)});
        }
    }
    zv::FreeJournal(os, &journal);
    return earlier;
}

void PrintEarlierUpdate(const EarlierUpdate& earlier) {
    if (!earlier.present) return;
    if (earlier.refused) {
        std::printf("an earlier update left a journal, %s, that the updater refuses (%s):\n"
                    "it changes nothing, shows \"%s\" and ends\n",
                    Shown(earlier.path).c_str(), earlier.state.c_str(), Shown(earlier.refusal).c_str());
        return;
    }
    if (earlier.completed) {
        std::printf("a completed update left its journal here (%s) while a file it replaced was in use:\n"
                    "the updater removes what it lists when it starts, or before it updates\n",
                    earlier.state.c_str());
    } else {
        std::printf("an update cut short left its journal here (%s): the updater settles it when it starts,\n"
                    "before it looks at the installation; what follows is the installation as it is now\n",
                    earlier.state.c_str());
    }
    std::printf("settling %s would:\n", Shown(earlier.path).c_str());
    for (const auto& [target, lines] : earlier.changes) {
        if (lines.empty()) std::printf("  %s: nothing to do\n", Shown(target).c_str());
        for (const std::string& line : lines) std::printf("  %s: %s\n", Shown(target).c_str(), line.c_str());
    }
    std::printf("  then remove the journal, unless a file above cannot be moved or removed\n");
}

void WriteEarlierUpdate(JsonWriter& json, const EarlierUpdate& earlier) {
    if (!earlier.present) return;
    json.Key(earlier.completed ? "completedUpdate" : "interruptedUpdate").String(earlier.state);
    json.Key("journal").BeginObject();
    json.Key("path").String(earlier.path);
    json.Key("refused").Bool(earlier.refused);
    if (earlier.refused) json.Key("message").String(earlier.refusal);
    json.Key("changes").BeginArray();
    for (const auto& [target, lines] : earlier.changes) {
        json.BeginObject();
        json.Key("target").String(target);
        json.Key("actions").BeginArray();
        for (const std::string& line : lines) json.String(line);
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

// The plan as one JSON object.
int PlanJson(zv::RunContext& run, const zv::PackageHeader& header, zv::InstalledProduct* product,
             const zv::UpdateVerdict& verdict, zv::PackageTable* table) {
    JsonWriter json;
    json.BeginObject();
    json.Key("installed").Bool(true);
    json.Key("installDir").String(product->installDir);
    json.Key("packageVersion");
    WriteVersion(json, header.version);
    json.Key("canProceed").Bool(verdict.canProceed);
    json.Key("verdict").String(verdict.message);
    WriteEarlierUpdate(json, FindEarlierUpdate(*run.os, product->installDir));
    json.Key("table").String(table->status == zv::TableStatus::Loaded ? "loaded" : zv::TableStatusName(table->status));
    int code = EXIT_OK;
    if (table->status == zv::TableStatus::Loaded) {
        json.Key("entries").BeginArray();
        PlanPrinter printer(*run.os, &json);
        const zv::TransferResult result = zv::PlanTransfer(run, *table, product, &printer);
        json.EndArray();
        json.Key("finalPercent").Number(printer.lastPercent);
        printer.WriteVolumes(json);
        json.Key("result").Signed(zv::TransferResultNumber(result));
        if (!zv::Succeeded(result)) code = EXIT_FAILED;
    } else {
        code = EXIT_FAILED;
    }
    json.EndObject();
    zv::FreePackageTable(*run.os, table);
    return code;
}

// Why a table that did not load whole and sound cannot be installed.
std::string TableTrouble(const zv::PackageTable& table) {
    std::string text = zv::TableStatusName(table.status);
    if (table.status == zv::TableStatus::Damaged) {
        text += " (" + TableDamageText(table) + ")";
    } else if (table.status == zv::TableStatus::NamesRefused) {
        text += " (" + TableNameProblem(table) + ")";
    }
    return text;
}

}  // namespace

int RunPlan(int argc, char** argv) {
    MachineOptions o;
    std::unique_ptr<zv::Platform> machine;
    int exitCode = StartMachineCommand(argc, argv, kPlanHelp, &o, &machine);
    if (exitCode >= 0) return exitCode;
    if (o.updater.empty()) return Fail(EXIT_USAGE, "--updater FILE is needed");
    zv::Platform& os = *machine;
    std::string error;

    zv::PackageHeader header{};
    // A table that cannot be loaded is for detection to find, as the updater does.
    const UpdaterOpen opened = ReadUpdaterHeader(os, o.updater, &header, &error);
    if (opened != UpdaterOpen::Ok && opened != UpdaterOpen::TableFailed) {
        return Fail(EXIT_FAILED, "%s", error.c_str());
    }

    zv::RunContext run;
    run.os = &os;
    zv::InstalledProduct product;
    zv::PackageTable table;
    zv::PrepareUpdate(run, header, &product, &table);
    if (product.variants == 0 && o.json) {
        JsonWriter json;
        json.BeginObject().Key("installed").Bool(false).EndObject();
        zv::FreePackageTable(os, &table);
        return EXIT_OK;
    }
    if (product.variants == 0) {
        std::printf("Zarvel is not installed here: the updater shows its not-installed page and writes nothing.\n");
        zv::FreePackageTable(os, &table);
        return EXIT_OK;
    }
    zv::UpdateVerdict verdict = zv::EvaluateUpdate(run, product, header, table.status);
    if (o.json) return PlanJson(run, header, &product, verdict, &table);
    char shown[32], parts[32];
    zv::FormatVersion(header.version, shown, sizeof shown);
    zv::FormatVersionParts(header.version, parts, sizeof parts);
    std::printf("package %s (%s) for %s\n", parts, shown, Shown(product.installDir).c_str());
    const EarlierUpdate earlier = FindEarlierUpdate(os, product.installDir);
    PrintEarlierUpdate(earlier);
    if (earlier.refused) {
        zv::FreePackageTable(os, &table);
        return EXIT_FAILED;
    }
    std::printf("detection page: %s%s%s\n", verdict.canProceed ? "Next enabled" : "Next disabled",
                verdict.message[0] ? ": " : "", verdict.message);
    if (!verdict.canProceed) std::printf("(the update is refused; below is what it would do were it allowed)\n");
    if (table.status != zv::TableStatus::Loaded) {
        std::printf("the package cannot be installed: %s\n", TableTrouble(table).c_str());
        std::printf("the detection page refuses the update and nothing is written\n");
        zv::FreePackageTable(os, &table);
        return EXIT_FAILED;
    }

    std::printf("\n  %3s  %s  %-24s %-42s %-4s %-7s %s\n", "#", "p", "name", "decision", "step", "carried",
                "target");
    PlanPrinter printer(os, nullptr);
    zv::TransferResult result = zv::PlanTransfer(run, table, &product, &printer);
    std::printf("\nthe progress bar would end at %u%%\n", static_cast<unsigned>(printer.lastPercent));
    std::fputs(HeldFilesText(printer.held).c_str(), stdout);
    if (!zv::Succeeded(result)) {
        std::printf("the transfer would stop before anything is written and show %s\n",
                    WhatTheUpdaterShows(result, printer.failedName.c_str()).c_str());
    } else {
        char journalPath[zv::kMaxPath] = {};
        zv::JournalFilePath(os, zv::JOURNAL_NAME, journalPath);
        printer.PrintStages(journalPath);
    }
    zv::FreePackageTable(os, &table);
    return zv::Succeeded(result) ? EXIT_OK : EXIT_FAILED;
}

}  // namespace quillon
