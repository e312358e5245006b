/*
 * The DSP plug-in interface between Tonalis and plug-in libraries.
 *
 * A plug-in is a shared library (".so") that exports one C function returning a header record:
 *
 *     DSPPluginHeader* winampDSPGetHeader(void);    modules of layout A
 *     DSPPluginHeader* MMPlugInDSPGetHeader(void);  modules of layout A
 *     DSPPluginHeader* winampDSPGetHeader2(void);   modules of layout B
 *
 * The host tries the three names in this order and uses the first it finds. It accepts the header
 * only when `version` is greater than 15 (DSP_PLUGIN_VERSION is a good value). It then calls
 * `getModule(0)`, `getModule(1)`, ... until it returns NULL or 100 modules are listed; the
 * returned records must stay valid while the library is loaded.
 *
 * All functions use the C calling convention. Audio is 16-bit signed, interleaved, native endian.
 * Fields marked "host" are written by the host before Init; the module may read them at any time.
 * Any function pointer may be NULL: a NULL Init leaves the module unusable, a NULL Restart counts
 * as success, a NULL Process/ProcessSamples/Quit is skipped.
 *
 * Calls happen under the host's lock from the thread that runs the audio chain; Init, Restart and
 * Quit may also come from the main thread. Process must not block. The floating-point
 * environment is reset to the default before the host pulls data from upstream, so a module that
 * changes it (flush-to-zero, say) should do so inside its own call and restore it.
 *
 * Layout A (block processing): the host writes the rate, channel count and the number of frames in
 * each buffer before Init and before every Restart; Process works in place and keeps the length.
 *
 * Layout B (sample-count processing): ProcessSamples gets the frame count, bits per sample,
 * channel count and rate of each buffer and returns how many frames it left in the buffer. It may
 * return fewer frames than it got; the host keeps at most the buffer's capacity.
 */
#ifndef TONALIS_DSP_PLUGIN_H
#define TONALIS_DSP_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DSP_PLUGIN_VERSION 0x20

typedef struct DSPModuleA {
    const char* description;
    void* hwndParent;      /* host: the owning window (opaque, may be NULL) */
    void* hDllInstance;    /* host: the library handle */
    int32_t sRate;         /* host: sample rate in Hz */
    int32_t nCh;           /* host: channels */
    int32_t framesPerBuffer; /* host: frames in each buffer handed to Process */
    void* reserved1;
    int32_t (*Init)(struct DSPModuleA* module);    /* 0 on success */
    int32_t (*Restart)(struct DSPModuleA* module); /* 0 on success */
    void (*Process)(struct DSPModuleA* module, int16_t* samples);
    void* reserved2;
    void* reserved3;
    void (*Quit)(struct DSPModuleA* module);
    void* userData; /* free for the module */
} DSPModuleA;

typedef struct DSPModuleB {
    const char* description;
    void* hwndParent;   /* host */
    void* hDllInstance; /* host */
    void* reserved1;
    int32_t (*Init)(struct DSPModuleB* module); /* 0 on success */
    int32_t (*ProcessSamples)(struct DSPModuleB* module, int16_t* samples, int32_t frames, int32_t bits,
                              int32_t channels, int32_t rate); /* returns frames to output */
    void (*Quit)(struct DSPModuleB* module);
    void* userData; /* free for the module */
} DSPModuleB;

typedef struct DSPPluginHeader {
    int32_t version;
    const char* description;
    void* (*getModule)(int32_t index); /* DSPModuleA* or DSPModuleB* by export; NULL past the last */
} DSPPluginHeader;

typedef DSPPluginHeader* (*DSPPluginGetHeader)(void);

#ifdef __cplusplus
}
#endif

#endif
