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

// The whole of a regular file ("-": standard input), or a Failure
// (kExitUsage) naming it: a folder is not a file.
std::string read_whole_file(const std::string& path);
// A Failure (kExitUsage) unless `path` is a regular file that can be read.
void check_readable_file(const std::string& path);

// curl's -d: "@FILE" is the file's text without its CR and LF, "@-" the
// same of standard input, anything else the text itself; several are
// joined with "&".
std::string data_argument(const std::vector<std::string>& data);

// curl's -b: text with a "=" is sent as it is; anything else names a cookie
// file (the Netscape format -c writes), whose cookies for `url` are sent.
std::string cookie_argument(const std::string& argument, const std::string& url);

// -u's "USER:PASSWORD", or a Failure (kExitUsage).
void check_credentials(const std::string& user_password);
// The header line of HTTP Basic authentication for "USER:PASSWORD".
std::string basic_authorization(const std::string& user_password);

// The last segment of the URL's path ("" when there is none).
std::string url_file_name(const std::string& url);

// The file that -o names (or -O derives from the URL): "" or "-" is
// standard output. A Failure (kExitUsage) when both are given, when -O finds
// no name, when the target is a folder or its folder does not exist.
std::string output_path(const std::string& output, bool remote_name, const std::string& url);

// A name for a file of the program's own in the system's folder for
// temporary files, unlike any other process's.
std::string temp_path();

// Writes the answer to `path` ("" or "-": standard output), checking every
// write and the final flush and close; a Failure (kExitFailed) naming the
// target when one fails.
void write_answer(const std::string& path, const std::string& bytes);

// Copies a finished download from `from` to `path` as write_answer does.
void copy_to_answer(const std::string& from, const std::string& path);

}  // namespace cli
}  // namespace qn

#endif
