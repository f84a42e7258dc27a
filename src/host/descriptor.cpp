// Exported module descriptor through which a host framework finds the
// wrapper's entry points.
#include <cstddef>
#include <cstdint>

#include "vocrel_rnr_host.h"

extern "C" {

const TQ_RNR_ModuleDesc g_Audio_RNR_WorkHandle = {"RNR", TQ_RNR_Init, TQ_RNR_Process,
                                                  TQ_RNR_DeInit};

}  // extern "C"

// The host reads these records by fixed offsets: one word per field on the
// 32-bit target, native pointers at their natural alignment on 64-bit hosts.
static_assert(sizeof(TQ_RNR_NrSettings) == 16);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TQ_RNR_ModuleDesc) == 40);
static_assert(offsetof(TQ_RNR_ModuleDesc, init) == 28);
static_assert(offsetof(TQ_RNR_ModuleDesc, process) == 32);
static_assert(offsetof(TQ_RNR_ModuleDesc, deinit) == 36);
static_assert(sizeof(TQ_RNR_ModeConfig) == 16);
static_assert(offsetof(TQ_RNR_ModeConfig, nrSettings) == 12);
static_assert(sizeof(TQ_RNR_AudioFrame) == 20);
static_assert(offsetof(TQ_RNR_AudioFrame, tag) == 4);
static_assert(offsetof(TQ_RNR_AudioFrame, lengthBytes) == 16);
#else
static_assert(sizeof(TQ_RNR_ModuleDesc) == 56);
static_assert(offsetof(TQ_RNR_ModuleDesc, init) == 32);
static_assert(offsetof(TQ_RNR_ModuleDesc, process) == 40);
static_assert(offsetof(TQ_RNR_ModuleDesc, deinit) == 48);
static_assert(sizeof(TQ_RNR_ModeConfig) == 24);
static_assert(offsetof(TQ_RNR_ModeConfig, nrSettings) == 16);
static_assert(sizeof(TQ_RNR_AudioFrame) == 32);
static_assert(offsetof(TQ_RNR_AudioFrame, tag) == 8);
static_assert(offsetof(TQ_RNR_AudioFrame, lengthBytes) == 24);
#endif
