<?xml version="1.0" encoding="UTF-8"?>
<!-- Lists each order with its customer and number of items, one line per order. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="UTF-8"/>
  <xsl:template match="/orders">
    <xsl:for-each select="order">
      <xsl:value-of select="@id"/>
      <xsl:text> </xsl:text>
      <xsl:value-of select="@date"/>
      <xsl:text> </xsl:text>
      <xsl:value-of select="customer/name"/>
      <xsl:text>: </xsl:text>
      <xsl:value-of select="count(items/item)"/>
      <xsl:text> item(s), </xsl:text>
      <xsl:value-of select="@status"/>
      <xsl:text>&#10;</xsl:text>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
