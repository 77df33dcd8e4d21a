#pragma once

#include "TLTransfers.h"

class QProcess;

// Each transfer in a run of the helper (tools/TLTransferHelper.cpp): the body arrives on the
// helper's standard output, its report on standard error, one line each: "@body" when the body
// begins, then "@status <code>", "@toolarge" or "@error <text>". The helper ends with this
// process; going away ends the helpers still running without calling back.
class TLProcessTransfers final : public TLTransfers {
public:
    explicit TLProcessTransfers(QString helper);
    ~TLProcessTransfers() override;

    void fetch(const QUrl& url, const Limits& limits, Done done) override;
    void download(const QUrl& url, const Limits& limits, int fd, std::function<void()> firstBytes,
                  Done done) override;

private:
    QProcess* run(const char* mode, const QUrl& url, const Limits& limits, Done done);

    QString helper_;
};
