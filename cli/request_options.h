// Checks of what users type, and the request option documents built from
// it. Every check throws a Failure with exit status kExitUsage and a
// one-line reason.
#ifndef QN_CLI_REQUEST_OPTIONS_H
#define QN_CLI_REQUEST_OPTIONS_H

#include <string>
#include <vector>

namespace qn {
namespace cli {

// scheme://host[:port][/path...]: a scheme from `schemes`, a host, a port of
// 1 to 65535 when given, and no blank or control character anywhere.
void check_url(const std::string& url, const std::vector<std::string>& schemes);
std::string url_scheme(const std::string& url);  // lower case; empty when none

// "Name: value": a header name of token characters, a colon, and no line
// break anywhere.
void check_header(const std::string& header);

// A value sent as it is (cookie, credentials): no line break or other
// control character.
void check_plain(const std::string& what, const std::string& value);

// {"headers": [...]} with the lines in order; with `digest` ("user:password")
// the Digest entry the downloads read goes first.
std::string option_document(const std::vector<std::string>& headers, const std::string& digest = "",
                            int time_out = 0);

// The whole file, or a Failure naming it.
std::string read_whole_file(const std::string& path);

// The last segment of the URL's path ("" when there is none).
std::string url_file_name(const std::string& url);

}  // namespace cli
}  // namespace qn

#endif
