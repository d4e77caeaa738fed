#include "support/core/fault_description.h"

namespace Velk {

namespace {

struct CODE_TEXT {
  std::uint32_t code;
  const char* text;
};

constexpr CODE_TEXT code_texts[] = {
    {0x80000001u, "Access violation on a guard page."},
    {0x80000002u,
     "The thread tried to read or write data that is misaligned on hardware that does "
     "not provide alignment. For example, 16-bit values must be aligned on 2-byte "
     "boundaries; 32-bit values on 4-byte boundaries, and so on."},
    {0x80000003u, "A breakpoint was encountered."},
    {0x80000004u,
     "A trace trap or other single-instruction mechanism signaled that one instruction "
     "has been executed."},
    {0xC0000005u,
     "The thread tried to read from or write to a virtual address for which it does not "
     "have the appropriate access."},
    {0xC0000006u,
     "The thread tried to access a page that was not present, and the system was unable "
     "to load the page. For example, this exception might occur if a network connection "
     "is lost while running a program over the network."},
    {0xC0000008u, "Invalid Handle."},
    {0xC000001Du, "The thread tried to execute an invalid instruction."},
    {0xC0000025u,
     "The thread tried to continue execution after a noncontinuable exception occurred."},
    {0xC0000026u,
     "An exception handler returned an invalid disposition to the exception dispatcher. "
     "Programmers using a high-level language such as C should never encounter this "
     "exception."},
    {0xC000008Cu,
     "The thread tried to access an array element that is out of bounds and the "
     "underlying hardware supports bounds checking."},
    {0xC000008Du,
     "One of the operands in a floating-point operation is denormal. A denormal value is "
     "one that is too small to represent as a standard floating-point value."},
    {0xC000008Eu,
     "The thread tried to divide a floating-point value by a floating-point divisor of "
     "zero."},
    {0xC000008Fu,
     "The result of a floating-point operation cannot be represented exactly as a "
     "decimal fraction."},
    {0xC0000090u,
     "This exception represents any floating-point exception not included in this list."},
    {0xC0000091u,
     "The exponent of a floating-point operation is greater than the magnitude allowed by "
     "the corresponding type."},
    {0xC0000092u,
     "The stack overflowed or underflowed as the result of a floating-point operation."},
    {0xC0000093u,
     "The exponent of a floating-point operation is less than the magnitude allowed by "
     "the corresponding type."},
    {0xC0000094u,
     "The thread tried to divide an integer value by an integer divisor of zero."},
    {0xC0000095u,
     "The result of an integer operation caused a carry out of the most significant bit "
     "of the result."},
    {0xC0000096u,
     "The thread tried to execute an instruction whose operation is not allowed in the "
     "current machine mode."},
    {0xC00000FDu, "The thread used up its stack."},
    // The code under which the Windows C++ runtime raises language exceptions.
    {0xE06D7363u, "Visual C++ Exception."},
};

void append_hex(narrow_buffer& text, std::uint64_t value, std::uint32_t min_digits) {
  narrow_buffer digits;
  digits.assign_number(value, 16);
  for (std::uint32_t n = digits.length(); n < min_digits; ++n) text.push_back('0');
  text.append(digits);
}

}  // namespace

const char* ExceptionCodeText(std::uint32_t code) noexcept {
  for (const CODE_TEXT& each : code_texts)
    if (each.code == code) return each.text;
  return "Unknown Value.";
}

narrow_buffer DescribeException(std::uint32_t code, std::uint64_t pc_address,
                                const std::uint64_t* parameters, std::size_t count) {
  narrow_buffer text(ExceptionCodeText(code));
  text.append("\n  exp. code  = 0x");
  append_hex(text, code, 0);
  text.append("\n  pc address = ");
  append_hex(text, pc_address, 8);
  if (count) {
    text.append("\n  parameters = ");
    for (std::size_t i = 0; i < count; ++i) {
      if (i) text.append("; ");
      text.append("0x");
      append_hex(text, parameters[i], 0);
    }
  }
  return text;
}

}  // namespace Velk
