/* A host that links the library, built from an installed tree through
 * pkg-config only: one GET against the URL it is given, whose body must be
 * the text it is given. */
#include <stdio.h>
#include <string.h>

#include <quillnet.h>

int main(int argc, char** argv) {
    char* body = NULL;
    int length = 0;
    int ok;
    if (argc != 3) return 2;
    quillnet_startup();
    ok = quillnet_submit_ex2(argv[1], 10, NULL, 1, 1, &body, &length) == 0 && body != NULL &&
         length == (int)strlen(argv[2]) && strcmp(body, argv[2]) == 0;
    printf("C consumer (pkg-config, linked): %d bytes, %s\n", length, ok ? "as expected" : "WRONG");
    quillnet_release(&body);
    quillnet_cleanup();
    return ok ? 0 : 1;
}
