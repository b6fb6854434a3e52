// quillon plan: what the updater would do on a machine, entry by entry,
// decided by the same code as the real transfer, with nothing written.
#include <cstdio>
#include <memory>
#include <string>

#include "detect/detection.h"
#include "detect/product_version.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "quillon/cli.h"
#include "quillon/commands.h"
#include "quillon/json_reports.h"
#include "quillon/machine.h"
#include "quillon/shown_text.h"
#include "quillon/updater_file.h"
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
    "installed, carried file not installed), the percentage the progress bar\n"
    "would end on, and the verdict of the detection page. With --json, the\n"
    "same as one JSON object (docs/json-output.md).\n"
    "\n";

// What the updater shows for a result of its transfer: the closing message,
// if any, and the page that follows.
std::string WhatTheUpdaterShows(zv::TransferResult result, const char* errorFile) {
    if (result == 0) return "the success page";
    std::string shown;
    if (result > 0 && result != zv::ANSWER_CANCEL) {
        char format[300] = {}, text[600] = {};
        zv::LoadText(static_cast<unsigned>(result), format, sizeof format);
        zv::FormatText(text, sizeof text, format, errorFile);
        shown = "the message \"" + Shown(text) + "\", then ";
    }
    return shown + "the page that says the update is incomplete";
}

class PlanPrinter : public zv::TransferObserver {
public:
    explicit PlanPrinter(JsonWriter* json) : json_(json) {}
    uint32_t lastPercent = 0;
    void EntryDone(const zv::EntryReport& r) override {
        lastPercent = r.percent;
        if (r.outcome == zv::EntryOutcome::OtherPass) return;
        if (r.outcome == zv::EntryOutcome::Ignored && r.pass == 2) return;  // told in pass 1
        if (json_ != nullptr) {
            json_->BeginObject();
            json_->Key("index").Number(r.index + 1);
            json_->Key("pass").Number(r.pass);
            json_->Key("name").String(r.name);
            json_->Key("decision").String(zv::EntryOutcomeName(r.outcome));
            json_->Key("target").String(r.targetPath);
            json_->Key("percent").Number(r.percent);
            if (r.nameProblem != zv::MemberNameProblem::None) {
                json_->Key("nameProblem").String(zv::MemberNameProblemName(r.nameProblem));
            }
            json_->EndObject();
            return;
        }
        std::printf("  %3u  %u  %-24s %-42s %s\n", r.index + 1, r.pass, Shown(r.name).c_str(),
                    zv::EntryOutcomeName(r.outcome), Shown(r.targetPath).c_str());
        if (r.nameProblem != zv::MemberNameProblem::None) {
            std::printf("            the updater stops here: %s\n", zv::MemberNameProblemName(r.nameProblem));
        }
    }

private:
    JsonWriter* json_;
};

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
    json.Key("table").String(table->status == zv::TableStatus::Loaded ? "loaded" : zv::TableStatusName(table->status));
    int code = EXIT_OK;
    if (table->status == zv::TableStatus::Loaded) {
        json.Key("entries").BeginArray();
        PlanPrinter printer(&json);
        zv::TransferOptions options;
        options.dryRun = true;
        options.observer = &printer;
        const zv::TransferResult result = zv::RunTransfer(run, *table, product, options);
        json.EndArray();
        json.Key("finalPercent").Number(printer.lastPercent);
        json.Key("result").Signed(result);
        if (result != 0) code = EXIT_FAILED;
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

    UpdaterFile file;
    // A table that cannot be loaded is for detection to find, as the updater does.
    const UpdaterOpen opened = OpenUpdaterFile(os, o.updater, &file, &error);
    if (opened != UpdaterOpen::Ok && opened != UpdaterOpen::TableFailed) {
        CloseUpdaterFile(os, &file);
        return Fail(EXIT_FAILED, "%s", error.c_str());
    }
    zv::PackageHeader header = file.header;
    CloseUpdaterFile(os, &file);

    zv::RunContext run;
    run.os = &os;
    zv::InstalledProduct product;
    zv::PackageTable table;
    zv::DetectProduct(run, header, &product, &table);
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
    std::printf("detection page: %s%s%s\n", verdict.canProceed ? "Next enabled" : "Next disabled",
                verdict.message[0] ? ": " : "", verdict.message);
    if (!verdict.canProceed) std::printf("(the update is refused; below is what it would do were it allowed)\n");
    if (table.status != zv::TableStatus::Loaded) {
        std::printf("the package cannot be installed: %s\n", TableTrouble(table).c_str());
        std::printf("the detection page refuses the update and nothing is written\n");
        zv::FreePackageTable(os, &table);
        return EXIT_FAILED;
    }

    std::printf("\n  %3s  %s  %-24s %-42s %s\n", "#", "p", "name", "decision", "target");
    PlanPrinter printer(nullptr);
    zv::TransferOptions options;
    options.dryRun = true;
    options.observer = &printer;
    zv::TransferResult result = zv::RunTransfer(run, table, &product, options);
    std::printf("\nthe progress bar would end at %u%%\n", static_cast<unsigned>(printer.lastPercent));
    if (result != 0) {
        std::printf("the transfer would stop before the end of the table and show %s\n",
                    WhatTheUpdaterShows(result, run.errorFileName).c_str());
    }
    zv::FreePackageTable(os, &table);
    return result == 0 ? EXIT_OK : EXIT_FAILED;
}

}  // namespace quillon
