// 16-bit up/down counter with parallel load (load over count) and an
// active-low synchronous reset that overrides everything.
module updown16(input clk, input rst_n, input load, input up, input en,
                input [15:0] d, output reg [15:0] q, output zero);
  always @(posedge clk)
    if (!rst_n)    q <= 16'd0;
    else if (load) q <= d;
    else if (en)   q <= up ? q + 16'd1 : q - 16'd1;
  assign zero = (q == 16'd0);
endmodule
