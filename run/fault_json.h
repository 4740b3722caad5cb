#pragma once

// An archive's faults as JSON objects, the same in the --json lines and in the ledger.

#include "zip/zip_faults.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace vellum {

using Json = nlohmann::ordered_json;

// kind, severity, entry, name, offset and message of one fault.
Json faultObject(const std::string& archivePath, const ZipFault& fault);
// The faults and the notes apart, as {"faults": [...], "notes": [...]}.
Json faultsAndNotes(const std::string& archivePath, const std::vector<ZipFault>& faults);
// The same as one line of JSON text.
std::string faultsAndNotesText(const std::string& archivePath, const std::vector<ZipFault>& faults);
// One line of JSON; bytes that are not UTF-8 (entry names as their writers chose) are replaced.
std::string jsonText(const Json& object);

} // namespace vellum
