#pragma once

#include "platform/Decimal.h"
#include "records/SequentialFiles.h"

namespace zelvar {

// One line of the run file: the four values of a recorded sample.
struct RunRecord {
    Decimal runTime;       // s
    Decimal outputVoltage; // V
    Decimal outputCurrent; // A
    Decimal rpm;           // 1/min

    void write(SequentialFiles& files, int number) const
    {
        files.WriteRecord(number, {runTime, outputVoltage, outputCurrent, rpm});
    }

    // Four fields; a record cut short or a field that is not a number throws.
    static RunRecord read(SequentialFiles& files, int number)
    {
        RunRecord r;
        r.runTime = files.ReadNumber(number);
        r.outputVoltage = files.ReadNumber(number);
        r.outputCurrent = files.ReadNumber(number);
        r.rpm = files.ReadNumber(number);
        return r;
    }

    friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

} // namespace zelvar
