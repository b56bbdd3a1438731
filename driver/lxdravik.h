/**
 * @file lxdravik.h
 * @brief lxdravik: lighting-network input driver, the twenty exports a host calls.
 *
 * The driver receives lighting levels sent as UDP datagrams to port 2501 and
 * keeps the latest level of every channel in a store of 36 ports x 512
 * channels (one unsigned 8-bit level per channel). The host reads the store
 * port by port or channel by channel.
 *
 * Conventions that hold for every export:
 * - Plain C, the C calling convention (`__cdecl` on Windows), no exceptions.
 *   On Windows the DLL exports every function by name at the ordinals 1..20
 *   given in lxdravik.def.
 * - All exports run on the host's calling thread; the driver creates no
 *   threads and the store has no lock. The store changes only inside
 *   ServiceDevices(), so levels hold still between the host's calls.
 * - A rejected request returns -1 (0 from GetChannel(), whose result is one
 *   unsigned byte); yes/no and success answers are 1 and 0. No result carries
 *   a platform error code.
 * - The device number is a 16-bit value; 0 is the only device.
 * - Texts, bitmaps and port buffers handed out stay the driver's: the host
 *   borrows them and never frees them. Buffers the host passes in stay the
 *   host's.
 * - Loading the library starts the socket layer and clears the store; a
 *   failure shows "Unable to start winsock" (or "Unable to get level 1
 *   functionality from winsock") and refuses the load. Unloading destroys the
 *   branding bitmaps, closes the intake socket if a connection is open and
 *   stops the socket layer. Init() and Shutdown() take no part in either.
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

/** @name Identity and capabilities */
/**@{*/

/**
 * @brief The driver's version, 3.200.
 * @param first  receives 3; skipped when null.
 * @param second receives 200; skipped when null.
 */
void LXD_CALL GetVersionInfo(int32_t* first, int32_t* second);

/** @brief The driver's capabilities: always 1. */
int32_t LXD_CALL GetDriverCaps(void);

/** @brief The device's capabilities: always 1. */
int32_t LXD_CALL GetDevCaps(void);

/** @brief Called by the host before it uses the driver; does nothing. */
void LXD_CALL Init(void);

/** @brief Called by the host when it is done with the driver; does nothing
 * (the connection stays open; unloading closes it). */
void LXD_CALL Shutdown(void);

/**@}*/

/** @name Detection */
/**@{*/

/** @brief Starts a detection round: nothing to prepare, returns 0. */
int32_t LXD_CALL StartDetect(void);

/**
 * @brief Appends the driver's one device to the host's detection list.
 *
 * The list is the host's byte-packed record: a little-endian 32-bit count,
 * then room for 32 device entries of 358 bytes (11,460 bytes in all). Each
 * entry holds, at these byte offsets: 0 the host word (16 bits), 2 the
 * device name "Dravik Valtrix" (33 bytes, zero-terminated), 35 the same name
 * again, 68 a tag field (33 bytes, read as empty text), 101 a 16-byte IPv4
 * socket address, 127.0.0.1 port 2501.
 *
 * Nothing is written when the count is negative or already 32, or when an
 * entry in use already has the address 127.0.0.1.
 *
 * @param hostWord written into the new entry's first two bytes.
 * @param list     the host's detection list; null is allowed and ignored.
 * @return 1 (detection is finished), whatever was written.
 */
int32_t LXD_CALL ContinueDetect(uint16_t hostWord, void* list);

/**@}*/

/** @name Connection */
/**@{*/

/**
 * @brief Connects to the device named in a detection entry.
 *
 * Only the entry's name field (offset 2) is read: it must hold exactly
 * "Dravik Valtrix" with its terminating zero. The first successful call opens
 * the intake socket (UDP port 2501 on every local IPv4 address, non-blocking,
 * held exclusively) and makes 512 channels per port readable; later calls
 * only count. Every successful Connect needs one Disconnect().
 *
 * @param entry a device entry as ContinueDetect() wrote it.
 * @return 0 on success; -1 when the entry is null or names another device, or
 *         the socket cannot be opened or bound (port 2501 taken), each time
 *         after a message box "Error in Connect".
 */
int16_t LXD_CALL Connect(const void* entry);

/**
 * @brief Drops one connection. The last one closes the intake socket and sets
 * the channels per port to 0; the levels stay in the store.
 * @param device 0; any other device, or no open connection, does nothing.
 */
void LXD_CALL Disconnect(uint16_t device);

/**@}*/

/** @name The port store
 * Port p, channel k is byte p * 512 + k of one 18,432-byte block. Valid ports
 * are 0..35 of device 0. While no connection is open the store keeps its
 * levels but reads as 0 channels per port. */
/**@{*/

/** @brief 36 while a connection is open; -1 for another device or when none is open. */
int32_t LXD_CALL GetNumPorts(uint16_t device);

/** @brief Port capabilities: 1 for port 0, 0 for every other port (any device). */
int32_t LXD_CALL GetPortCaps(uint16_t device, int32_t port);

/** @brief Validates a port before the host reads its buffer; never blocks.
 * @return 0 for a valid port, -1 otherwise. */
int32_t LXD_CALL LockPortBuffer(uint16_t device, int32_t port);

/** @brief Counterpart of LockPortBuffer(); never blocks.
 * @return 0 for a valid port, -1 otherwise. */
int32_t LXD_CALL UnlockPortBuffer(uint16_t device, int32_t port);

/**
 * @brief The address of a port's 512 levels inside the store.
 *
 * The address stays valid while the library is loaded, connected or not; its
 * bytes change only inside ServiceDevices().
 * @param buffer receives the address; left alone when the request is rejected.
 * @return the channels per port (512 connected, 0 not), or -1 for an invalid
 *         device or port or a null @p buffer.
 */
int32_t LXD_CALL GetPortBuffer(uint16_t device, int32_t port, uint8_t** buffer);

/** @brief Channels per port: 512 while connected, 0 otherwise; -1 for an invalid port. */
int32_t LXD_CALL GetNumChannels(uint16_t device, int32_t port);

/** @brief One level; 0 for an invalid port, a channel outside 0..511, or while
 * no connection is open. */
uint8_t LXD_CALL GetChannel(uint16_t device, int32_t port, int32_t channel);

/**
 * @brief Copies levels of one port from channel @p start on.
 * @param destination the host's buffer, at least @p count bytes.
 * @param count       levels wanted; fewer are copied where the port ends.
 * @return the number copied (0..512), or -1 for an invalid port, a start
 *         outside the readable channels (any start while not connected), a
 *         null destination or a negative count.
 */
int32_t LXD_CALL GetChannels(uint16_t device, int32_t port, int32_t start, uint8_t* destination,
                             int32_t count);

/**@}*/

/** @name Intake */
/**@{*/

/**
 * @brief Drains every datagram waiting on UDP port 2501 into the store.
 *
 * Receives until nothing waits, an empty datagram arrives, or a datagram is
 * longer than 1,316 bytes (it is discarded whole); each one received is
 * applied before the next. Two kinds are understood (the first two bytes,
 * big-endian): level packets (0x202F) and block packets (0x808F), whose blocks
 * are raw or run-length coded; anything malformed or outside the store is
 * ignored. Does nothing while no connection is open.
 */
void LXD_CALL ServiceDevices(void);

/**@}*/

/** @name Branding
 * One kind number for both exports: 1 short branding string, 2 welcome
 * bitmap, 3 mode-bar bitmap, 4 support text. */
/**@{*/

/**
 * @brief Loads a branding bitmap afresh from its file.
 *
 * Kind 2 reads welcome.bmp, kind 3 modebar.bmp, from
 * `C:\Program Files\Dravik Lighting\Vistane\` on Windows and
 * `/opt/dravik-lighting/vistane/` elsewhere. Each request destroys the bitmap
 * the previous request of the same kind handed out. The bitmap is an HBITMAP
 * on Windows and an LxdBitmap* (lxdravik_bitmap.h) elsewhere; it stays the
 * driver's.
 *
 * @param bitmap receives the bitmap, or null; skipped when null.
 * @param colour receives the see-through colour 0x00FF00FF (magenta, red in
 *               the lowest byte), or 0x00FFFFFF when there is no bitmap;
 *               skipped when null.
 * @return 1 with a bitmap; 0 for other kinds or a missing or malformed file.
 */
int32_t LXD_CALL GetBrandingBitmap(int32_t kind, void** bitmap, uint32_t* colour);

/**
 * @brief A branding text: kind 1 "DVK", kind 4 the four-line support text
 * ("For support please contact:\n\nDravik Lighting\n" and a web address line).
 * @param text receives the address of a constant zero-terminated text in the
 *             driver's static storage, or null for other kinds; skipped when null.
 * @return 1 for kinds 1 and 4, 0 otherwise.
 */
int32_t LXD_CALL GetBrandingString(int32_t kind, const char** text);

/**@}*/

#ifdef __cplusplus
}
#endif

#endif /* LXDRAVIK_H */
