#pragma once

namespace zelvar::runfiles {

// The numbered files of a run. The receive handler appends to number 10
// between Start and Stop; the analysis reads the run back through 12 and
// writes the report through 11.
inline constexpr int kRunFileNumber = 10;
inline constexpr int kReportFileNumber = 11;
inline constexpr int kRunFileInputNumber = 12;

// Both live in the program's own directory.
inline constexpr const char* kRunFileName = "Temp.dat";
inline constexpr const char* kReportFileName = "save.csv";

// The report: this header, one line per record, an empty line, the trailer's
// header and the trailer's values. Written by the analysis, read back by the
// curves and the tools; the texts are what operators' spreadsheets look for.
inline constexpr const char* kReportHeader[] = {"Run Time (sec)",     "Output Voltage (V)",
                                                "Output Current (A)", "RPM",
                                                "Torque (mNm)",       "Horse Power (W)",
                                                "Input Power (W)",    "Efficiency (%)"};
inline constexpr const char* kTrailerHeader[] = {"Flywheel Radius", "Flywheel Weight", "ESC Neutral Timing",
                                                 "ESC Full Throttle Timing"};

} // namespace zelvar::runfiles
