// The objects quillnet takes from the host's modules, and the few
// operations it builds on them.
#ifndef QN_HOST_HOST_OBJECTS_H
#define QN_HOST_HOST_OBJECTS_H

#include <string>

#include "host/mj_ref.h"
#include "mj/mj_interfaces.h"

namespace qn {
namespace host {

// Made per use from MJBase beside the host executable.
MJRef<mj::IMJEnvironment> CreateEnvironment();
MJRef<mj::IMJParamBag> CreateParamBag();
MJRef<mj::IMJFile> CreateFileObject();
MJRef<mj::IMJLogSink> CreateLogSink();

// Process-wide objects of hubcore, created once; empty for the rest of the
// process when hubcore or the class is missing.
MJRef<mj::IHubHostCall> HostCallObject();
MJRef<mj::IHubDocumentFactory> DocumentFactory();

// A bag's text `name`, or `fallback` on any failure.
std::string ReadBagText(mj::IMJParamBag* bag, const char* name, const std::string& fallback);

// Calls the host function `function` with the key in the bag's "gdk"; on
// status 0 a non-empty "gdt" answer replaces *result. MJ_E_FAIL when the
// host call object is missing.
mj::result_t HostFunctionCall(const char* function, const char* key, std::string* result);

// The configuration document at `path`; empty when the factory is missing.
MJRef<mj::IHubDocument> OpenConfigDocument(const std::string& path);

// True with *result set when the document holds text under `key`; *result
// is untouched otherwise.
bool ReadDocumentText(mj::IHubDocument* document, const char* key, std::string* result);

}  // namespace host
}  // namespace qn

#endif  // QN_HOST_HOST_OBJECTS_H
