/* lxdravik: lighting-network input driver.
 *
 * The twenty exports that a host lighting application calls. Plain C, the C
 * calling convention, integer results, no exceptions. On Windows the DLL
 * exports them by name at ordinals 1..20 (see lxdravik.def).
 */
#ifndef LXDRAVIK_H
#define LXDRAVIK_H

#include <stdint.h>

#if defined(_WIN32)
#define LXD_CALL __cdecl
#else
#define LXD_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Identity: stores 3 and 200; a null pointer is skipped. */
void LXD_CALL GetVersionInfo(int32_t* first, int32_t* second);
int32_t LXD_CALL GetDriverCaps(void);
int32_t LXD_CALL GetDevCaps(void);
void LXD_CALL Init(void);
void LXD_CALL Shutdown(void);

/* Detection: appends the one device entry to the host's detection list. */
int32_t LXD_CALL StartDetect(void);
int32_t LXD_CALL ContinueDetect(uint16_t hostWord, void* list);

/* Connection: opens the intake socket (UDP 2501) on the first Connect. */
int16_t LXD_CALL Connect(const void* entry);
void LXD_CALL Disconnect(uint16_t device);

/* Port store: 36 ports x 512 channels. */
int32_t LXD_CALL GetNumPorts(uint16_t device);
int32_t LXD_CALL GetPortCaps(uint16_t device, int32_t port);
int32_t LXD_CALL LockPortBuffer(uint16_t device, int32_t port);
int32_t LXD_CALL UnlockPortBuffer(uint16_t device, int32_t port);
int32_t LXD_CALL GetPortBuffer(uint16_t device, int32_t port, uint8_t** buffer);
int32_t LXD_CALL GetNumChannels(uint16_t device, int32_t port);
uint8_t LXD_CALL GetChannel(uint16_t device, int32_t port, int32_t channel);
int32_t LXD_CALL GetChannels(uint16_t device, int32_t port, int32_t start, uint8_t* destination,
                             int32_t count);

/* Intake: drains every waiting datagram into the port store. */
void LXD_CALL ServiceDevices(void);

/* Branding: kind 1 short string, 2 welcome bitmap, 3 mode-bar bitmap, 4 support text.
 * The bitmap is an HBITMAP on Windows and an LxdBitmap* (lxdravik_bitmap.h) elsewhere. */
int32_t LXD_CALL GetBrandingBitmap(int32_t kind, void** bitmap, uint32_t* colour);
int32_t LXD_CALL GetBrandingString(int32_t kind, const char** text);

#ifdef __cplusplus
}
#endif

#endif /* LXDRAVIK_H */
