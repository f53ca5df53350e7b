#pragma once

// The DUXL commands a module's bootloader understands during an update, with the meaning of their
// type, motor/bank and value fields and the limits the update run keeps to.
namespace Bootloader {

// Command numbers (204 and 207 exist but are not used).
constexpr unsigned char EraseCommand = 200;         // erase the application flash; reply not examined
constexpr unsigned char WriteWordCommand = 201;     // one 32-bit flash word
constexpr unsigned char ProgramPageCommand = 202;   // program the collected page at the absolute address in value
constexpr unsigned char ReadChecksumCommand = 203;  // 32-bit sum of the flash from its base through value
constexpr unsigned char RestartCommand = 205;       // start the application; reply not examined
constexpr unsigned char ReadParameterCommand = 206; // page size, flash base or memory size, by type
constexpr unsigned char StoreAttributeCommand = 208; // firmware size or checksum, by type

// Types of 206.
constexpr unsigned short PageSizeParameter = 0;
constexpr unsigned short FlashBaseParameter = 1;
constexpr unsigned short MemorySizeParameter = 2;

// Types of 208.
constexpr unsigned short FirmwareSizeAttribute = 0;
constexpr unsigned short FirmwareChecksumAttribute = 1;
// Status of a 208 reply from a bootloader that cannot store attributes: size and checksum then go
// into two flash words instead.
constexpr unsigned char AttributesUnsupportedStatus = 2;

// The last two arguments of every request of this set: no broadcast, replies to host address 12.
constexpr bool NoBroadcast = false;
constexpr unsigned char ReplyAddress = 12;

// Page-number scheme: 201 carries the word index in the page as type and the page number as
// motor/bank; the first application page is number 16. No 202 follows.
constexpr int FirstPageNumber = 16;
// Page-buffer scheme: 201 carries the word index (low 8 bits) as type and the kibibyte of the
// offset as motor/bank; 202 then programs the buffer.
constexpr int BankShift = 10;
constexpr int WordShift = 2;
constexpr int WordBytes = 4;
// What a byte of erased flash reads.
constexpr unsigned int ErasedByte = 0xFF;

// Where size and checksum go when 208 is not supported.
constexpr unsigned short PageNumberSizeWordType = 0xFE;
constexpr unsigned short PageNumberChecksumWordType = 0xFF;
constexpr unsigned char PageNumberAttributePage = 0x7F;
constexpr unsigned short PageBufferSizeWordType = 0x7E;
constexpr unsigned short PageBufferChecksumWordType = 0x7F;
constexpr unsigned char PageBufferAttributeBank = 0;
constexpr int PageBufferAttributePageAddress = 0x3FE00;

// Reply time-outs asked of the handler (not scaled: they belong to the module, not to the dialogue).
constexpr int EraseTimeoutMs = 15000;
constexpr int WriteTimeoutMs = 5000;
constexpr int ChecksumTimeoutMs = 50000;

// A word is sent at most this often before the run gives up.
constexpr int WordTries = 10;

}
