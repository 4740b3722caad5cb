#include "fault_json.h"

#include "fault_text.h"

namespace vellum {

Json faultObject(const std::string& archivePath, const ZipFault& fault) {
    Json object;
    object["kind"] = faultKindName(fault.kind);
    object["severity"] = faultSeverity(fault.kind);
    object["entry"] = fault.isEntryFault() ? Json(fault.entryIndex) : Json(nullptr);
    // Names are stored as the archive's writer chose, not always in UTF-8: the dump replaces what
    // is not, as it does for paths.
    object["name"] = fault.isEntryFault() ? Json(fault.entryName) : Json(nullptr);
    // A missing part of a split set has no offset; its number takes the place, as scripts read it.
    object["offset"] = fault.kind == ZipFaultKind::SplitPartMissing ? fault.splitPart : fault.offset;
    object["message"] = faultDescription(archivePath, fault);
    return object;
}

std::string faultsAndNotesText(const std::string& archivePath, const std::vector<ZipFault>& faults) {
    // Most archives have nothing to say: their text is always the same.
    if (faults.empty())
        return R"({"faults":[],"notes":[]})";
    return jsonText(faultsAndNotes(archivePath, faults));
}

Json faultsAndNotes(const std::string& archivePath, const std::vector<ZipFault>& faults) {
    Json found = Json::array();
    Json notes = Json::array();
    for (const ZipFault& fault : faults)
        (zipFaultIsNote(fault.kind) ? notes : found).push_back(faultObject(archivePath, fault));
    Json object;
    object["faults"] = std::move(found);
    object["notes"] = std::move(notes);
    return object;
}

std::string jsonText(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace vellum
