/* The virtual display of a headless machine, for programs that load Tavren as a library.
 *
 * Each function takes and returns JSON text (UTF-8, NUL-terminated). The returned text is
 * allocated by the library and must be given back with TavrenRemoteDisplayFree; it is never
 * NULL unless memory ran out. Parameters that are NULL, or not a JSON object, read as an empty
 * object. The functions may be called from any thread; they run one at a time.
 *
 *   TavrenRemoteDisplayStatus()          {"supported", "headless", "displayIds", ...}
 *   TavrenRemoteDisplayEnsure(params)    {"owner": "...", "width": 1920, "height": 1080}
 *   TavrenRemoteDisplayRelease(params)   {"owner": "..."}
 *
 * The display made by Ensure lives until Release by its owner, or until the process ends. */
#ifndef TAVREN_REMOTE_DISPLAY_H
#define TAVREN_REMOTE_DISPLAY_H

#ifdef __cplusplus
extern "C" {
#endif

char* TavrenRemoteDisplayStatus(void);
char* TavrenRemoteDisplayEnsure(const char* paramsJson);
char* TavrenRemoteDisplayRelease(const char* paramsJson);
void TavrenRemoteDisplayFree(char* json);

#ifdef __cplusplus
}
#endif

#endif
