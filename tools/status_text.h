/*
 * Readable text for the engine's status codes (0 and -1..-24), shared by the
 * command-line tool and the examples.
 */
#ifndef VOCREL_TOOLS_STATUS_TEXT_H
#define VOCREL_TOOLS_STATUS_TEXT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A sentence fragment such as "maxNr must be 2..20 dB"; never null. */
const char* vocrel_status_text(int32_t status);

#ifdef __cplusplus
}
#endif

#endif /* VOCREL_TOOLS_STATUS_TEXT_H */
