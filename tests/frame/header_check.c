/* The public header compiles as plain C99 and describes the layouts hosts rely on. */
#include <stddef.h>

#include "quillnet.h"

#define QN_CHECK(name, cond) typedef char name[(cond) ? 1 : -1]
QN_CHECK(web_part_layout, sizeof(web_part) == 280 && offsetof(web_part, name) == 16 && offsetof(web_part, data) == 276);
QN_CHECK(event_codes, TASK_EVENT_THREAD_DATA == 0 && TASK_EVENT_PROGRESS == 1 && TASK_EVENT_DONE == 2 &&
                          TASK_EVENT_ASYNC_DATA == 3);

static void on_task(void* handle, int event, void* data, unsigned int length, void* user_data) {
    (void)handle, (void)event, (void)data, (void)length, (void)user_data;
}

int main(void) {
    TaskCallback cb = on_task;
    QuillnetSubmitParam param = {0};
    QuillnetSubmitParamEx param_ex = {0};
    return cb && param.size == 0 && param_ex.size == 0 && quillnet_startup() == 1 && quillnet_cleanup() == 1 ? 0 : 1;
}
