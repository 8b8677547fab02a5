// 16-stage shift register; the synchronous clear dominates the enable.
// A second 8-bit register bank has an active-low enable.
module shift_en_sclr(input clk, input en, input sclr, input din,
                     input hold_n, input [7:0] b, output [15:0] q, output reg [7:0] bq);
  reg [15:0] r;
  always @(posedge clk)
    if (sclr)    r <= 16'd0;
    else if (en) r <= {r[14:0], din};
  always @(posedge clk)
    if (!hold_n) bq <= b ^ r[7:0];
  assign q = r;
endmodule
