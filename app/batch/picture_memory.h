#pragma once

namespace vellumar::batch {

// A batch frees and reserves a picture-sized block for every row. Returning
// each block to the kernel and faulting the next one in page by page cost more
// system time than the conversion itself on photo batches, so the front ends
// keep freed blocks in the process while they convert.
void KeepFreedPictureMemory();

// Gives the kept blocks back (the window calls it when a run ends).
void ReturnFreedPictureMemory();

// From now on every picture block is given back as soon as it is freed: a run
// under a tight memory budget cannot let one worker's freed block stay in the
// process while another worker makes its own.
void StopKeepingFreedPictureMemory();

}  // namespace vellumar::batch
