#include "platform/Clock.h"

#include <QTime>

namespace zelvar {

double SystemClock::secondsSinceMidnight() const
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

} // namespace zelvar
