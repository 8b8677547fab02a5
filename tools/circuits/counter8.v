// 8-bit up counter; the enable dominates the synchronous clear
// (clear acts only while counting is enabled), and a carry-out flag.
module counter8(input clk, input en, input clr, output reg [7:0] q, output co);
  always @(posedge clk)
    if (en) begin
      if (clr) q <= 8'd0;
      else     q <= q + 8'd1;
    end
  assign co = en & (&q);
endmodule
