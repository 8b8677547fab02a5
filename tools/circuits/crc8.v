// CRC-8 (polynomial x^8 + x^2 + x + 1) over one data byte per enabled
// clock, with a synchronous initialisation to all ones.
module crc8(input clk, input init, input en, input [7:0] data, output reg [7:0] crc);
  function [7:0] step(input [7:0] c, input [7:0] d);
    integer k;
    reg [7:0] x;
    begin
      x = c ^ d;
      for (k = 0; k < 8; k = k + 1)
        x = x[7] ? ((x << 1) ^ 8'h07) : (x << 1);
      step = x;
    end
  endfunction
  always @(posedge clk)
    if (init)    crc <= 8'hff;
    else if (en) crc <= step(crc, data);
endmodule
