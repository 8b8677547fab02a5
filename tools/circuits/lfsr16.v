// 16-bit Fibonacci LFSR (taps 16, 14, 13, 11) with a seed load; an all-zero
// state is steered to 1 so the register never locks up.
module lfsr16(input clk, input load, input [15:0] seed, output reg [15:0] r, output bit_out);
  wire fb = r[15] ^ r[13] ^ r[12] ^ r[10];
  always @(posedge clk)
    if (load)            r <= seed;
    else if (r == 16'd0) r <= 16'd1;
    else                 r <= {r[14:0], fb};
  assign bit_out = r[15];
endmodule
