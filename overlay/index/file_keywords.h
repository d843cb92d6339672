// The keywords a shared file is published under, taken from its name:
// the name is cut at the delimiters " ,_-.(){}[]!?<>:\/" plus tab and
// newline into tokens of at most 255 characters; a token is a keyword
// when it is longer than 2 characters, differs from the extension (the
// last three characters of a name of 5 or more whose fourth-last
// character is '.', compared exactly) and is not "the" in any case.
// Keywords are lower-cased (ASCII letters) and kept in order.
//
//   The_Best_of_Harbor.mp3  ->  best, harbor
#pragma once

#include <string>
#include <vector>

constexpr const char* kKeywordDelimiters = " ,_-.(){}[]!?<>:\\/\t\n";
constexpr int kKeywordTokenMax = 255;
// Keywords one file is published under at most.
constexpr int kKeywordsPerFile = 6;

// At most `limit` keywords of the name.
std::vector<std::string> fileKeywords(const char* name, int limit);
