// 6x6 unsigned array multiplier built from partial-product rows and
// ripple-carry adders, so its structure is the textbook array.
module mult6(input [5:0] a, input [5:0] b, output [11:0] p);
  wire [11:0] row [0:5];
  wire [11:0] acc [0:5];
  genvar i;
  generate
    for (i = 0; i < 6; i = i + 1) begin : rows
      assign row[i] = ({6'd0, a & {6{b[i]}}}) << i;
      if (i == 0) begin : first
        assign acc[i] = row[i];
      end else begin : next
        assign acc[i] = acc[i-1] + row[i];
      end
    end
  endgenerate
  assign p = acc[5];
endmodule
