#pragma once

// The state block of one console window: the image of the interface's mixer session (3348 little-endian
// quadlets; the same bytes in the device's session memory, in session files and in the stored flash
// copy), the gang masks, the CRC of the session stored in flash, and the names of the session file and
// folder last used.
//
// Threads: the message thread stores values into the image (control changes, loads, resets); the
// hardware thread reads what it sends from the image. Every access to the image takes the block's own
// lock, held only for the copy, never across a device call. The other members belong to the message
// thread.

#include <juce_data_structures/juce_data_structures.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace device
{
class vhw;
}

namespace console
{

// Reverses the byte order of each 32-bit word of a buffer in place: ceiling(byteCount / 4) words;
// nothing for a count of 0 or less.
void byteSwapQuadlets(void* data, int byteCount);

// The CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, as zlib's crc32): crc is the value of the
// bytes before, 0 to start.
uint32_t crc32(const void* data, size_t size, uint32_t crc = 0);

// A name from the device made one plain file name, for the paths it becomes part of (always followed by a
// suffix): the framework's legal file name (no separators), as earlier versions made it, with a leading
// '~' (which the framework reads as a home folder) replaced by '@', a character no legal file name holds.
juce::String singleFileName(const juce::String& name);

class ConsoleState
{
public:
    // --- the image layout ---
    static constexpr int kImageQuads = 3348;
    static constexpr int kImageBytes = kImageQuads * 4;
    static constexpr int kMaxChannels = 40; // inputs, outputs and playback channels the image has room for
    static constexpr uint32_t kSessionVersion = 512;

    // Words (quadlet index).
    static constexpr int kSizeWord = 0;
    static constexpr int kCrcWord = 1;
    static constexpr int kVersionWord = 2;
    static constexpr int kFlagsWord = 3; // bit 31 phantom power, bit 1 S/PDIF professional
    static constexpr uint32_t kPhantomFlag = 1u << 31;
    static constexpr int kLegacyWord = 4;
    static constexpr int kClockWord = 6;
    static constexpr int kRateWord = 7;
    static constexpr int kMonitorGainWords = 8;     // [input][output], 8.24
    static constexpr int kPlaybackGainWords = 1608; // [channel]
    static constexpr int kOutputGainWords = 1648;   // [channel]
    static constexpr int kRoutingWords = 1688;      // 70 words
    static constexpr int kRoutingWordCount = 70;

    // Bytes (byte offset); the byte area starts at kByteArea.
    static constexpr int kByteArea = 7312;
    static constexpr int kInputRecords = 7312;     // 40 x 24: nominal, (kept), name
    static constexpr int kMonitorPans = 8272;      // [input][output], 0 left .. 255 right
    static constexpr int kMonitorFlags = 9872;     // [input][output], bit 0 mute, bit 1 solo
    static constexpr int kPlaybackRecords = 11472; // 40 x 24: mute, solo, name
    static constexpr int kOutputRecords = 12432;   // 40 x 24: mute, nominal, name
    static constexpr int kRecordBytes = 24;
    static constexpr int kNameOffset = 2; // in a record
    static constexpr int kMaxNameChars = 21;

    // A cleared image; gang masks all set until the properties say otherwise.
    explicit ConsoleState(device::vhw& device);
    ConsoleState(const ConsoleState&) = delete;
    ConsoleState& operator=(const ConsoleState&) = delete;

    device::vhw& getDevice() const { return device_; }

    // Reads the session stored in the device into the image, and the stored session's CRC. Message
    // thread, before the hardware thread runs. 0 = read; 1 = the image read does not hold 3348
    // quadlets; another positive code = a request failed; negative = the device kept asking to try
    // again for 2000 ms. On any other result than 0 the image is all zeros, and the window takes the
    // values the unit runs into it (UnitRead).
    //
    // A read that ends with a size word other than 3348 found no session (erased flash: a new unit, a
    // firmware update, a save cut short): nothing of it is kept, and foundNoSession() is set. The unit
    // runs without a session, and what it runs may be stored once every value has been read from it.
    int readFromDevice();
    bool foundNoSession() const { return noSession_; }

    // True when the image may be written to the device's flash at close: it is whole (the device read
    // succeeded, a whole image replaced it since (session load, reset), or the values of a unit without
    // a session were read into it), and no value awaits the unit any more.
    bool mayWriteFlash() const;
    void markWholeImage() { imageIsWhole_ = true; }

    // --- the values the unit runs, awaited where the stored session was not read whole ---
    // Every write through the accessors below ends the wait of the bits it writes: what the user, a
    // session load or a reset wrote is never replaced by a value read before it.
    // The bits of mask in count bytes from offset await the unit's value.
    void awaitUnitValue(int offset, int count, uint8_t mask);
    // A value read from the unit, count bytes as they lie in the image, into the bits that still await
    // it (which then await nothing). True when the image changed.
    bool putUnitValue(int offset, const uint8_t* value, int count, uint8_t mask);
    bool awaitsUnitValues() const;

    // The properties file's keys: gang masks, channel names, most recent folder. A missing name key
    // keeps the name read from the device; a present one, even empty, replaces it. Names and the folder
    // are stored as text the framework never reads as markup (encodeSettingsText).
    void loadProperties(const juce::PropertySet& properties);
    void saveProperties(juce::PropertySet& properties) const;

    // CRC of bytes 8 to the end of the image (size and CRC words are outside it).
    uint32_t computeCrc() const;
    // Stores computeCrc in the CRC word; true when it differs from the stored session's CRC.
    bool hasChanged();
    uint32_t getFlashCrc() const { return flashCrc_; }
    void setFlashCrc(uint32_t crc) { flashCrc_ = crc; }

    // Before the image goes to flash: size and version words set, CRC recomputed, the image copied to
    // snapshot (kImageQuads words). True when it may be written and changed since it was read, or the
    // flash held no session.
    bool prepareFlashSave(uint32_t* snapshot);

    // --- gang masks: bit n = channels 2n and 2n + 1 ---
    int32_t getInputGangs() const { return inputGangs_; }
    int32_t getOutputGangs() const { return outputGangs_; }
    int32_t getPlaybackGangs() const { return playbackGangs_; }
    void setInputGangs(int32_t mask) { inputGangs_ = mask; }
    void setOutputGangs(int32_t mask) { outputGangs_ = mask; }
    void setPlaybackGangs(int32_t mask) { playbackGangs_ = mask; }
    bool isInputGanged(int channel) const { return testGang(inputGangs_, channel); }
    bool isOutputGanged(int channel) const { return testGang(outputGangs_, channel); }
    bool isPlaybackGanged(int channel) const { return testGang(playbackGangs_, channel); }
    void setInputGanged(bool on, int channel) { setGang(inputGangs_, on, channel); }
    void setOutputGanged(bool on, int channel) { setGang(outputGangs_, on, channel); }
    void setPlaybackGanged(bool on, int channel) { setGang(playbackGangs_, on, channel); }

    // --- unit accessors (dB and pan 0..1); indices outside the image are ignored (gets give 0) ---
    void setMonitorGain(int input, int output, float db);
    float getMonitorGain(int input, int output) const;
    // Both channels of the output pair carry the pan.
    void setMonitorPan(int input, int output, float pan);
    float getMonitorPan(int input, int output) const;
    void setOutputGain(int output, float db);
    float getOutputGain(int output) const;
    void setPlaybackGain(int channel, float db);
    float getPlaybackGain(int channel) const;
    void setPlaybackMute(int channel, int value);
    bool getPlaybackMute(int channel) const;

    // Names: at most 21 characters of 8-bit text; a getter never reads past its record.
    void setInputAlias(int index, const juce::String& text);
    juce::String getInputAlias(int index) const;
    void setOutputAlias(int index, const juce::String& text);
    juce::String getOutputAlias(int index) const;
    void setPlaybackAlias(int index, const juce::String& text);
    juce::String getPlaybackAlias(int index) const;

    // The Core Audio path's sample rate, kept beside the image (0 until it is known). Any thread.
    void setSampleRate(int hz) { coreAudioRate_.store(hz); }
    int getSampleRate() const { return coreAudioRate_.load(); }

    // --- raw image access for the fields their controls read and write in place ---
    uint32_t getWord(int index) const;
    void setWord(int index, uint32_t value);
    // The bits of mask take those of value; the others stay.
    void setWordBits(int index, uint32_t mask, uint32_t value);
    uint8_t getByte(int offset) const;
    void setByte(int offset, uint8_t value);
    void setByteBits(int offset, uint8_t mask, uint8_t value);
    void copyImage(uint32_t* dest) const;
    // count bytes from offset, as one read (nothing outside the image is copied).
    void copyBytes(int offset, uint8_t* dest, int count) const;
    // Replaces the whole image (a session load); names are terminated afterwards.
    void replaceImage(const uint32_t* source);

    // NUL at byte 23 of every input, output and playback record.
    void terminateAliases();

    // --- session files: a 64-byte header and the image, 13456 bytes, little-endian words ---
    static constexpr uint32_t kSessionMagic = 0x4B616D6F; // the bytes "omaK"
    static constexpr int kFileHeaderWords = 16;
    static constexpr int kFileHeaderBytes = kFileHeaderWords * 4;
    static constexpr int kSessionFileBytes = kFileHeaderBytes + kImageBytes;
    static constexpr int kLegacyFileBytes = 8192;

    // Why a session file was refused; each has its alert text.
    enum class FileError
    {
        none,
        cannotOpen,     // "Unable to open the file."
        headerTooSmall, // "The file header is too small."
        wrongSize,      // "The file is the wrong size."
        headerInvalid,  // "The file header is invalid."
        dataInvalid,    // "The data is invalid."
        versionWrong,   // "The session version is wrong."
        cannotWrite     // "Unable to write the file."
    };
    static const char* getErrorText(FileError error);

    // Header words: magic, file size, the interface's vendor, model and hardware version, the three gang
    // masks (input, playback, output) and the header word; the rest 0.
    void makeFileHeader(uint32_t (&header)[kFileHeaderWords]) const;
    // Takes the three gang masks and the header word.
    void applyFileHeader(const uint32_t (&header)[kFileHeaderWords]);

    // A session file of this interface (either byte order) replaces the image and takes the header's
    // masks and header word. On any refusal nothing changes. The CRC is not checked.
    FileError readSessionFile(const juce::File& file);
    // A legacy 8192-byte file is converted into the image (the fields it has; everything else stays).
    // On any refusal nothing changes.
    FileError readLegacySessionFile(const juce::File& file);
    // Writes header and image to a temporary file beside the target, forces it to the disk and checks it,
    // then puts it in the target's place and forces the folder's entries to the disk. On failure
    // (cannotWrite) the target is as it was and no temporary file is left.
    FileError writeSessionFile(const juce::File& file) const;

    // ".ST8session" for model 0x5E8, ".ST12session" for 0x5E12, empty for every other model.
    static juce::String getLegacyExtension(uint32_t modelId);
    // The file's extension (from its last dot) is the model's legacy one, in any letter case.
    static bool isLegacyFile(uint32_t modelId, const juce::File& file);
    // The wildcard, plus ";*" and the legacy extension when the model has one.
    static juce::String getLoadWildcard(uint32_t modelId, const juce::String& wildcard);
    // The model name (as a single file name: the device's own may hold separators) followed by " session".
    juce::String getSessionExtension() const;
    // The most recent folder; without one, the documents folder's "<model name> sessions".
    juce::File getDefaultSessionFolder() const;
    // The documents folder's "<model name> sessions" (the model name as a single file name); a File() when
    // there is no documents folder.
    juce::File getDocumentsSessionFolder() const;
    // The default folder, made with its parents when missing; when it cannot be made, the documents
    // folder's; a nonexistent File() when neither can be.
    juce::File getSessionFolder() const;

    int32_t getHeaderWord() const { return headerWord_; }
    void setHeaderWord(int32_t word) { headerWord_ = word; }
    const juce::String& getCurrentSessionName() const { return sessionName_; }
    void setCurrentSessionName(const juce::String& name) { sessionName_ = name; }
    // The file a plain "Save" writes, whole path and letter case as chosen: the session file last saved
    // or loaded (after loading a file of another extension, the session file of its name beside it);
    // none at start.
    const juce::File& getCurrentSessionFile() const { return sessionFile_; }
    void setCurrentSessionFile(const juce::File& file) { sessionFile_ = file; }
    const juce::String& getMostRecentFolder() const { return recentFolder_; }
    void setMostRecentFolder(const juce::String& folder) { recentFolder_ = folder; }

private:
    static bool testGang(int32_t mask, int channel);
    static void setGang(int32_t& mask, bool on, int channel);
    juce::String fileNameOfModel() const;
    void setName(int record, const juce::String& text);
    juce::String getName(int record) const;
    void terminateAliasesLocked();
    // The caller holds lock_: the bits of mask in count bytes from offset were written.
    void wrote(int offset, int count, uint8_t mask = 0xFF);
    // Reverses the byte order of each quadlet of the byte area (the device delivers it that way); the
    // caller holds lock_.
    void swapTextArea();

    device::vhw& device_;
    mutable std::mutex lock_;
    uint32_t image_[kImageQuads] = {};  // guarded by lock_
    uint8_t awaited_[kImageBytes] = {}; // guarded by lock_: per image byte, the bits awaiting the unit
    int32_t inputGangs_ = -1;
    int32_t outputGangs_ = -1;
    int32_t playbackGangs_ = -1;
    uint32_t flashCrc_ = 0;
    int32_t headerWord_ = 0;
    std::atomic<int> coreAudioRate_{0};
    bool imageIsWhole_ = false;
    bool noSession_ = false;
    juce::String sessionName_;
    juce::File sessionFile_;
    juce::String recentFolder_;
};

} // namespace console
