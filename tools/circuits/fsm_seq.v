// Moore machine detecting the serial pattern 1101 (overlapping), with a
// synchronous reset, a state-dependent output and a falling-edge output register.
module fsm_seq(input clk, input rst, input x, output found, output reg found_n);
  reg [2:0] s;
  localparam S0 = 3'd0, S1 = 3'd1, S11 = 3'd2, S110 = 3'd3, S1101 = 3'd4;
  always @(posedge clk)
    if (rst) s <= S0;
    else case (s)
      S0:    s <= x ? S1 : S0;
      S1:    s <= x ? S11 : S0;
      S11:   s <= x ? S11 : S110;
      S110:  s <= x ? S1101 : S0;
      S1101: s <= x ? S11 : S0;
      default: s <= S0;
    endcase
  assign found = (s == S1101);
  always @(negedge clk) found_n <= ~found;
endmodule
