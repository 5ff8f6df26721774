// The Win32 back end's decisions: the line a settings text sets up, and
// which Win32 errors mean the device is gone.

#include "platform/WinSerialControl.h"

#include "CaseNames.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace zelvar {
namespace {

struct LineCase {
    const char* name;
    const char* settings;
    DWORD baudRate;
    BYTE byteSize;
    BYTE parity;
    BYTE stopBits;
};

class LineSettingsTest : public testing::TestWithParam<LineCase> {};

TEST_P(LineSettingsTest, SetsUpARawLineWithoutFlowControl)
{
    const LineCase& line = GetParam();
    // What a driver may have left from the port's last user: flow control,
    // XON/XOFF, checked parity, aborting on errors.
    DCB dcb{};
    dcb.fOutX = dcb.fInX = dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = TRUE;
    dcb.fNull = dcb.fErrorChar = dcb.fAbortOnError = dcb.fDsrSensitivity = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;

    applyLineSettings(dcb, parseSettings(QString::fromLatin1(line.settings)));

    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, line.baudRate) << line.settings;
    EXPECT_EQ(dcb.ByteSize, line.byteSize) << line.settings;
    EXPECT_EQ(dcb.Parity, line.parity) << line.settings;
    EXPECT_EQ(dcb.StopBits, line.stopBits) << line.settings;
    EXPECT_TRUE(dcb.fBinary);
    // Each of these would change or drop bytes (0x11, 0x13, NUL, bytes with
    // a parity error) or stop reading.
    EXPECT_FALSE(dcb.fOutX || dcb.fInX) << "XON/XOFF left on: " << line.settings;
    EXPECT_FALSE(dcb.fParity || dcb.fNull || dcb.fErrorChar || dcb.fAbortOnError) << line.settings;
    EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity) << line.settings;
    EXPECT_EQ(dcb.fRtsControl, DWORD(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fDtrControl, DWORD(DTR_CONTROL_ENABLE));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LineSettingsTest,
    testing::Values(LineCase{"Default", "115200,N,8,1", 115200, 8, NOPARITY, ONESTOPBIT},
                    LineCase{"EvenSevenTwo", "9600,e,7,2", 9600, 7, EVENPARITY, TWOSTOPBITS},
                    LineCase{"OddFiveOneAndAHalf", "19200,O,5,1.5", 19200, 5, ODDPARITY, ONE5STOPBITS},
                    LineCase{"MarkSix", "57600,M,6,1", 57600, 6, MARKPARITY, ONESTOPBIT},
                    LineCase{"SpaceCustomRate", "250000,S,8,1", 250000, 8, SPACEPARITY, ONESTOPBIT}),
    testing_support::CaseName());

struct ErrorCase {
    const char* name;
    DWORD error;
    bool lost;
};

class Win32LossTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(Win32LossTest, DecidesWhetherTheDeviceIsGone)
{
    const ErrorCase& row = GetParam();
    EXPECT_EQ(isDeviceLossError(row.error), row.lost)
        << row.name << " (" << row.error << ")" << (row.lost ? " must" : " must not") << " count as a lost device";
}

INSTANTIATE_TEST_SUITE_P(Errors, Win32LossTest,
                         testing::Values(ErrorCase{"BrokenPipe", ERROR_BROKEN_PIPE, true},
                                         ErrorCase{"NotReady", ERROR_NOT_READY, true},
                                         ErrorCase{"AccessDenied", ERROR_ACCESS_DENIED, true},
                                         ErrorCase{"BadCommand", ERROR_BAD_COMMAND, true},
                                         ErrorCase{"GenFailure", ERROR_GEN_FAILURE, true},
                                         ErrorCase{"InvalidHandle", ERROR_INVALID_HANDLE, true},
                                         ErrorCase{"FileNotFound", ERROR_FILE_NOT_FOUND, true},
                                         ErrorCase{"DeviceNotConnected", ERROR_DEVICE_NOT_CONNECTED, true},
                                         ErrorCase{"DeviceRemoved", ERROR_DEVICE_REMOVED, true},
                                         ErrorCase{"OperationAborted", ERROR_OPERATION_ABORTED, true},
                                         ErrorCase{"NotSupported", ERROR_NOT_SUPPORTED, false},
                                         ErrorCase{"InvalidParameter", ERROR_INVALID_PARAMETER, false},
                                         ErrorCase{"NoSystemResources", ERROR_NO_SYSTEM_RESOURCES, false},
                                         ErrorCase{"SemaphoreTimeout", ERROR_SEM_TIMEOUT, false}),
                         testing_support::CaseName());

TEST(Win32ErrorText, GivesTheSystemsTextAndTheNumber)
{
    const QString text = win32ErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(text.endsWith(QStringLiteral("(Windows error 2)"))) << text.toStdString();
    EXPECT_GT(text.size(), QStringLiteral("(Windows error 2)").size()) << "no text from the system";
    EXPECT_EQ(win32ErrorText(0x2FFFFFFF), QStringLiteral("Windows error 805306367"));
}

} // namespace
} // namespace zelvar
