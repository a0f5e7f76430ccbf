// Percent-encoding of the bytes libcurl and servers reject in a URL.
#ifndef QN_PUBLIC_HELPER_URL_ENCODE_H
#define QN_PUBLIC_HELPER_URL_ENCODE_H

// Encodes `input_len` bytes of `input` into `output` (capacity bytes,
// terminator included, at least 1). Returns the characters written, not
// counting the terminator. Output that does not fit is cut before the first
// piece that would not leave room for the terminator.
int url_encode(const char* input, int input_len, char* output, int capacity);

#endif  // QN_PUBLIC_HELPER_URL_ENCODE_H
