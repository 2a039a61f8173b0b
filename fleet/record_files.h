// The record files of a folder, each read as hostile input: a file that a
// machine which was infected may have written, or swapped for something
// else while it is read.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

constexpr size_t kLargestRecord = 16 * 1024 * 1024;

// Calls visit for every *.json entry of folder, in no particular order, with
// its contents, or with null contents and the reason it was not read: each
// is opened without following a link and without waiting (a FIFO never
// blocks), must be a regular file of at most kLargestRecord bytes when
// opened, and no more than that is read. Only one record's bytes are held
// at a time. False, with the reason in problem, when the folder cannot be
// listed.
using RecordVisitor = std::function<void(const std::string& name, const std::string* text, const std::string& problem)>;
bool ForEachRecordFile(const std::string& folder, const RecordVisitor& visit, std::string& problem);

// A whole small file the person gave (the list of expected machines): a
// regular file of at most kLargestRecord bytes. False with the reason.
bool ReadGivenFile(const std::string& path, std::string& text, std::string& problem);
