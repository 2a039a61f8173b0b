// Editing wininit.ini, through which Windows 95/98/Me deletes files at the
// next start: each "nul=<short path>" line of its [rename] section is one
// deletion, carried out in order.
#pragma once

#include <string>

// The text of the file with one more "nul=" line for shortPath at the end
// of its [rename] section (the section is added when missing). Every line
// already there is kept, so several files queued in one scan all stay.
std::string AddWininitDeletion(const std::string& existing, const std::string& shortPath);
