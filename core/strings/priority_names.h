// The display names of the download priorities 0 to 3 ("Low", "Normal",
// "High", "Highest"), replaceable from ui.xml by the keys "low",
// "normal", "high" and "highest". Process-wide, set up once after ui.xml
// is loaded and freed explicitly with the options.
#pragma once

constexpr int kPriorityNameCount = 4;

// Creates the names and takes the skin's texts from the process-wide
// string table when there is one. A second call keeps the first names.
void setupPriorityNames();
void freePriorityNames();
// The name of a priority, or null before set-up and outside 0 to 3.
const char* priorityName(int priority);
