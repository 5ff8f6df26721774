#include "ReceivePath.h"

#include "records/RunFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace zelvar::testing_support {

ReceivePath::~ReceivePath()
{
    stop();
    if (keeper_ >= 0)
        ::close(keeper_);
    qunsetenv(variable().constData());
}

QByteArray ReceivePath::variable() const
{
    return "ZELVAR_COM" + QByteArray::number(port_);
}

void ReceivePath::start(const QString& device, const QString& runFile)
{
    keeper_ = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(keeper_, 0) << device.toStdString() << ": " << std::strerror(errno);
    qputenv(variable().constData(), device.toLocal8Bit());
    QObject::connect(&comm, &SerialControl::OnComm, [this] { receiver.MSComm1_OnComm(); });
    form.Text1(Box::Interval).setText(QStringLiteral("20"));
    form.Command1().setCaption(caption::kStop);
    form.Label2().setCaption(caption::kNowRunning);
    files.OpenForOutput(runfiles::kRunFileNumber, runFile);
    comm.setCommPort(port_);
    comm.setPortOpen(true);
}

void ReceivePath::stop()
{
    if (comm.PortOpen())
        comm.setPortOpen(false);
    files.Close(runfiles::kRunFileNumber);
}

int ReceivePath::shownTick()
{
    return static_cast<int>(std::lround(form.Text1(Box::RunTime).text().toDouble() * 100));
}

bool ReceivePath::failed()
{
    return form.Label2().caption() == caption::kError;
}

} // namespace zelvar::testing_support
