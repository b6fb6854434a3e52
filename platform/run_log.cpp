#include "platform/run_log.h"

#include <cstring>

namespace zv {

bool OpenRunLog(Platform& os, const char* path, bool append, RunLog* log) {
    *log = RunLog{};
    if (path == nullptr || path[0] == '\0') return false;
    bool taken = false;
    FileHandle file = os.CreateNew(path, &taken);
    if (file == kNoFile && taken && append) {
        file = os.Open(path, OpenMode::Write);
        if (file != kNoFile && os.Seek(file, 0, SeekOrigin::End) == kFileError) {
            os.Close(file);
            file = kNoFile;
        }
    }
    if (file == kNoFile) return false;
    log->os = &os;
    log->file = file;
    return true;
}

void WriteRunLogLine(RunLog& log, const char* stamp, const char* text) {
    if (log.file == kNoFile || log.failed) return;
    constexpr size_t kMaxLine = 1023;
    char line[kMaxLine + 3];
    size_t length = 0;
    auto append = [&](const char* part, size_t count) {
        for (size_t k = 0; k < count && length < kMaxLine; ++k) {
            line[length++] = (part[k] == '\r' || part[k] == '\n') ? ' ' : part[k];
        }
    };
    if (stamp != nullptr && stamp[0] != '\0') {
        append(stamp, std::strlen(stamp));
        append(" ", 1);
    }
    // Line breaks at the end of the text are the line's own end.
    size_t textLength = text != nullptr ? std::strlen(text) : 0;
    while (textLength > 0 && (text[textLength - 1] == '\n' || text[textLength - 1] == '\r')) --textLength;
    if (text != nullptr) append(text, textLength);
    line[length++] = '\r';
    line[length++] = '\n';
    if (log.os->Write(log.file, line, static_cast<uint32_t>(length)) != static_cast<int32_t>(length)) {
        log.failed = true;
    }
}

void CloseRunLog(RunLog& log) {
    if (log.file == kNoFile) return;
    log.os->Flush(log.file);
    log.os->Close(log.file);
    log.file = kNoFile;
}

}  // namespace zv
