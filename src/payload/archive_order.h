// The order of payload entries. The reader creates only the immediate parent
// folder of each file it writes, so a file two folders deep can be written
// only once an earlier file has made its grandparent. Platform-free; used by
// the packer to order and check what it packs.
#ifndef RAVEN_PAYLOAD_ARCHIVE_ORDER_H
#define RAVEN_PAYLOAD_ARCHIVE_ORDER_H

#include <string>
#include <vector>

namespace archive {

// Puts names ("/" separated) in a deterministic order in which a folder's
// files come before the files of its sub-folders, then checks that the order
// can be extracted and that no two names are one file on Windows (names
// there ignore case). False with a reason when that cannot hold.
bool OrderForExtraction(std::vector<std::string>* names, std::string* why);

// True when writing the names in the given order finds every file's
// grandparent folder already made by an earlier file.
bool IsExtractableOrder(const std::vector<std::string>& names, std::string* why);

}  // namespace archive

#endif
