#include "engine/ChannelRow.h"

namespace kestrune {

// Channel 1's idle text ends with the service desk's extension and a blank.
const std::array<ChannelRow, ChannelCount> ChannelRows{{
    {1, "", "TCommsThread", "", "Label2", "COMM Closed",
     " If you have a question, Please call me #4217 "},
    {2, "1", "TCommsThread1", "His Smile", "Label1", "COMM Closed   His Smile", " His Smile "},
    {3, "2", "TCommsThread2", "ChildHoodDays", "Label3", "COMM Closed   ChildHoodDays",
     " ChildHoodDays "},
    {4, "3", "TCommsThread3", "Flow in the Wind", "Label5", "COMM Closed   Flow in the Wind",
     " Flow in the Wind"},
    {5, "4", "TCommsThread4", "Letter of No Return", "Label6",
     "COMM Closed   Letter of No Return", " Letter of No Return "},
    {6, "5", "TCommsThread5", "Sweet Rumors", "Label7", "COMM Closed   Sweet Rumors",
     " Sweet Rumors "},
    {7, "6", "TCommsThread6", "Forgive Me", "Label9", "COMM Closed   Forgive Me", " Forgive Me "},
    {8, "7", "TCommsThread7", "Fading", "Label10", "COMM Closed   Fading", " Fading "},
}};

std::string ControlName(const ChannelRow &row, const char *kind) {
  return std::string(kind) + row.Suffix;
}

} // namespace kestrune
