#pragma once

// QCustomPlot's header, for a project built with QT_NO_KEYWORDS: the header
// still spells Qt's keywords, so they are lent to it for its length only.
#define signals Q_SIGNALS
#define slots Q_SLOTS
#define emit Q_EMIT
#define foreach Q_FOREACH
#include <qcustomplot.h>
#undef foreach
#undef emit
#undef slots
#undef signals
