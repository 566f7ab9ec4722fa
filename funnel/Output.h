// What brimo-funnel prints: the summary as text, one record a run as CSV or JSON, and the picture.
#pragma once

#include <string>

#include "funnel/Funnel.h"

namespace brimo::funnel {

std::string SummaryText(const Summary& summary);
// One line: the lines read and what was skipped of them.
std::string SkippedText(const Summary& summary);

std::string CsvHeader();
std::string CsvRecord(const Run& run);
std::string JsonRecord(const Run& run);

// The funnel's bars and the daily outcomes as stacked bars.
std::string Svg(const Summary& summary);

}  // namespace brimo::funnel
