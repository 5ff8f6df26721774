#include "records/DiskSync.h"

#include "records/SequentialFiles.h"

#include <exception>

namespace zelvar {

DiskSync::DiskSync(SequentialFiles& files, int number, std::function<void(int)> sync)
    : files_(files), number_(number), sync_(std::move(sync))
{
    if (!sync_)
        sync_ = [this](int n) { files_.SyncToDisk(n); };
    timer_.setInterval(kInterval);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}

void DiskSync::start()
{
    timer_.start();
}

void DiskSync::tick()
{
    if (!files_.isBound(number_))
        return;
    try {
        sync_(number_);
    } catch (const std::exception&) {
        // The file's next write or its Close meets the same fault and reports
        // it through the handler that owns the file.
    }
}

} // namespace zelvar
