#include "link/TelemetryFrame.h"

namespace zelvar {

Decimal TelemetryFrame::outputVoltage() const
{
    return Decimal::scaled(word(5), 2);
}

Decimal TelemetryFrame::outputCurrent() const
{
    return Decimal::scaled(word(7), 1);
}

Decimal TelemetryFrame::rpm() const
{
    return Decimal(word(9) * 100);
}

} // namespace zelvar
